// The access-denied class: the Windows errors that the C runtime maps to EACCES.
#include "common.h"

static const WORD accessDeniedErrors[] = {5, 16, 65, 82, 83, 108, 132, 158, 167};

int IsAccessDenied(DWORD error) {
    if (error >= 19 && error <= 36) // write protect .. sharing buffer exceeded
        return 1;
    for (DWORD i = 0; i < sizeof accessDeniedErrors / sizeof accessDeniedErrors[0]; i++)
        if (error == accessDeniedErrors[i])
            return 1;
    return 0;
}
