#include "app/entry.h"

int main(int argc, char** argv) {
    return lumo::runLumo(argc, argv);
}
