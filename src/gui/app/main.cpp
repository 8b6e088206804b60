// orbelstudio's entry: the program takes no command-line options.
#include "app/StudioApp.h"

int main() { return orbel::studio::gui::RunStudio(); }
