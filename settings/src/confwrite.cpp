/*
 * confwrite: writes the default user-interface settings to the flash file
 * system.  Takes no arguments; its only output is the GLib log of the save.
 * Exits 0 whatever the save gave.
 */
#include "confwrite_defaults.h"

int main()
{
    confwrite_write(SETTINGS_FILE_PATH);
    return 0;
}
