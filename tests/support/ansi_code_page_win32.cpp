#include "ansi_code_page.h"

#include <windows.h>

unsigned ansi_code_page() {
    return GetACP();
}
