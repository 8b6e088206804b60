// orbel-demo-alignment: writes the demo run's QEXT alignment file (72 bytes), which maps the
// sensor emulator's room into the fake camera's 512 x 512 picture, to the file named.
// Exit codes: 0 on success, 1 when the file cannot be written, 2 for a usage error.
#include <fstream>
#include <iostream>
#include <string>

#include <orbel/fakecamera/DemoAlignment.h>

int main(int argc, char** argv) {
    const std::string option = argc > 1 ? argv[1] : "";
    if (argc != 2 || option == "--help" || option == "-h") {
        const bool help = option == "--help" || option == "-h";
        (help ? std::cout : std::cerr)
            << "Usage: orbel-demo-alignment <file.qext>\n"
               "Writes the QEXT alignment of the demo run: the fake camera beside the sensor emulator,\n"
               "looking the same way, its 512 x 512 picture covering the lidar's whole field.\n";
        return help ? 0 : 2;
    }
    const auto bytes = orbel::fakecamera::DemoAlignmentQext();
    std::ofstream file(option, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::cerr << "orbel-demo-alignment: cannot write " << option << "\n";
        return 1;
    }
    return 0;
}
