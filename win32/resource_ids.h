/* Ids of the desktop program's resources, shared by resources.rc and the
   window code. Plain macros, because the resource compiler reads this file
   too. The control ids inside the templates are the ones the window models
   name (app/programmer_dlg.h, app/file_open_sheet.h, ...); resources.cpp
   checks that both agree. */
#pragma once

#define VT_IDD_ABOUTBOX 100
#define VT_IDD_MAIN 102
#define VT_IDD_PANEL 129
#define VT_IDI_APP 144
#define VT_IDD_LOG 146
#define VT_IDD_PAGE_QZ6 148
#define VT_IDD_PAGE_MV2 149

/* Main window (template 102). */
#define VT_IDC_USB_BUTTON 1041
#define VT_IDC_USB_PROMPT 1042
/* Port panel (template 129). */
#define VT_IDC_PORT_BUTTON 1000
#define VT_IDC_STATUS 1012
#define VT_IDC_PROGRESS 1014
/* Log window (template 146). */
#define VT_IDC_LOG_TEXT 1032
/* About box (template 100): the version line and the notice below it. */
#define VT_IDC_ABOUT_VERSION 1101
#define VT_IDC_ABOUT_NOTICE 1102
/* Setup pages (templates 148, 149): the row labels, filled from the page
   models, top to bottom. */
#define VT_IDC_ROW_LABEL0 1110
#define VT_IDC_ROW_LABEL1 1111
#define VT_IDC_ROW_LABEL2 1112
#define VT_IDC_ROW_LABEL3 1113
#define VT_IDC_ROW_LABEL4 1114
#define VT_IDC_BAUD_LABEL 1115

/* The manifest (per-monitor DPI awareness, common controls 6, UTF-8 as the
   process's code page). */
#define VT_MANIFEST_ID 1
