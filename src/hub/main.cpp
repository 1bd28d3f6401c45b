#include "entry.h"

int main(int argc, char **argv) {
    return hub_main(argc, argv);
}
