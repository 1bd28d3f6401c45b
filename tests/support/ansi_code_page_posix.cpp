#include "ansi_code_page.h"

unsigned ansi_code_page() {
    return 0;
}
