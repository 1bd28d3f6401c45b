// The ANSI code page that a program with a plain main reads its command line in, so that tests
// can expect what that code page's best-fit mapping makes of a character.
#pragma once

// GetACP() on Windows (1252, 932, ...); 0 elsewhere, where there is no such conversion.
unsigned ansi_code_page();
