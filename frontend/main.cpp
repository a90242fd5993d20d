#include "frontend/brannic.h"

int main(int argc, char** argv) {
    return brannicMain(argc, argv);
}
