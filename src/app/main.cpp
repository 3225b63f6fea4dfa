#include "app/app.h"

int main(int argc, char** argv) {
    CVellumApp app;
    return app.run(argc, argv);
}
