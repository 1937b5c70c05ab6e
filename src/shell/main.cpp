#include "shell/Startup.h"
#include "shell/TApplication.h"

int main(int argc, char** argv) {
    t5170::TApplication app(argc, argv);
    return t5170::runProgram(app);
}
