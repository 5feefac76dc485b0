/* The checks of the C header programs: a failed check prints what it expected and is counted. */
#ifndef TAVRIN_TESTS_HEADER_C_CHECKS_H
#define TAVRIN_TESTS_HEADER_C_CHECKS_H

#include <stdio.h>

#include "tavrin/tavrin.h"

static int failures = 0;

static void expect(int condition, const char* what) {
    if (!condition) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

/* Whether the wide text a holds the ASCII text b. */
static int sameText(const tavrin_wchar_t* a, const char* b) {
    if (a == NULL) return 0;
    for (; *b != 0; ++a, ++b) {
        if (*a != (tavrin_wchar_t)(unsigned char)*b) return 0;
    }
    return *a == 0;
}

#endif
