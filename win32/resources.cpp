// The resource script's ids must be the ones the window models name.
#include "app/file_open_sheet.h"
#include "app/programmer_dlg.h"
#include "resource_ids.h"

static_assert(VT_IDC_USB_BUTTON == IDC_USB_BUTTON);
static_assert(VT_IDC_USB_PROMPT == IDC_USB_PROMPT);
static_assert(VT_IDD_PAGE_MV2 == 149 && VT_IDD_PAGE_QZ6 == 148);
