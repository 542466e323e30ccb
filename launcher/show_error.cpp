#include "show_error.h"

#include "process_services.h"

int ShowError(const char* message) {
    return ShowMessageBox(message, "Error", MESSAGE_BOX_ICON_ERROR);
}
