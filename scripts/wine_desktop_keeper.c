/* Stays on the test environment's Wine desktop until the environment is stopped, so that the
 * desktop stays open between test programs (see scripts/test-env.sh). */
#include <stdio.h>
#include <windows.h>

int main(void)
{
    /* Joins the desktop, bringing its window up if it is not there yet. */
    if (GetDesktopWindow() == NULL)
        return 1;
    puts("desktop joined");
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
