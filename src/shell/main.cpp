#include "Startup.h"
#include "TApplication.h"

int main(int argc, char** argv) {
    t5170::TApplication app(argc, argv);
    return t5170::runProgram(app);
}
