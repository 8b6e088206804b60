// orbel-fake-camera-description: writes the fake camera's GenICam description (the one the
// tests' fixture serves) to standard output, for arv-fake-gv-camera-0.8's -g option in demo
// runs. Exit codes: 0 on success, 1 when the description cannot be made, 2 for a usage error.
#include <exception>
#include <iostream>
#include <string>

#include <orbel/fakecamera/Description.h>

int main(int argc, char** argv) {
    if (argc > 1) {
        const std::string option = argv[1];
        const bool help = option == "--help" || option == "-h";
        (help ? std::cout : std::cerr)
            << "Usage: orbel-fake-camera-description > camera.xml\n"
               "Writes the GenICam description of the Orbel test camera: Aravis's fake camera's own,\n"
               "extended with every node the SDK configures. Serve it with\n"
               "arv-fake-gv-camera-0.8 -i <address> -g camera.xml.\n";
        return help ? 0 : 2;
    }
    try {
        const std::string xml = orbel::fakecamera::Description();
        std::cout << xml;
        std::cout.flush();
        return std::cout ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "orbel-fake-camera-description: " << e.what() << "\n";
        return 1;
    }
}
