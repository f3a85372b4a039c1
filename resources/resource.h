// Resource and control numbers shared by the code and the resource scripts.
#pragma once

#include "message_ids.h"

// Progress window shown by the backup operations.
#define IDD_PROGRESS 105
#define IDC_PROGRESS_BAR 1007
#define IDC_PROGRESS_TEXT 1008

// About box: the version line, the icon that starts the tune, the notice.
#define IDD_ABOUT 106
#define IDC_ABOUT_VERSION 1009
#define IDC_ABOUT_ICON 1010
#define IDC_ABOUT_DETAILS 1015
#define IDC_ABOUT_NOTICE 1016
// The tune the About box plays, an XM module of resource type "XM".
#define IDR_TUNE 107

// Main window.

#define IDM_RELOAD 110
#define IDM_NEW_TEMPLATE 111
#define IDM_EDIT_TEMPLATES 112
#define IDM_DELETE_TEMPLATES 113
#define IDM_CHECK_ALL 114
#define IDM_UNCHECK_ALL 115
#define IDM_ADD_DATE 116
#define IDM_COMPRESS 117
#define IDM_PLACEHOLDER_1 118
#define IDM_PLACEHOLDER_2 119
#define IDM_PLACEHOLDER_3 120
#define IDM_LOG 121
#define IDM_GRID 122
#define IDM_DO_BACKUP 123
#define IDM_RESIZE 124
#define IDM_BROWSE 125
#define IDM_ABOUT 126
#define IDM_USE_REGEDIT 127
#define IDM_PORTABLE_RESTORE 128

#define IDC_BROWSE_BUTTON 125
#define IDC_STATUS_BAR 200
#define IDC_TEMPLATE_LIST 12345
#define IDT_COMPRESSION_COMBO 100

// Template editor.
#define IDD_TEMPLATE_EDITOR 104
#define IDC_NAME_EDIT 1000
#define IDC_DESCRIPTION_EDIT 1001
#define IDC_DIRECTORY_EDIT 1002
#define IDC_ENTRY_LIST 1003
#define IDC_MOVE_UP 1004
#define IDC_MOVE_DOWN 1005
#define IDC_ADD_ENTRY 1018
#define IDC_UPDATE_ENTRY 1019
#define IDC_DELETE_ENTRIES 1020
#define IDC_KIND_FILE 1021
#define IDC_KIND_REGISTRY 1022
#define IDC_KIND_RELATION 1024
#define IDC_FILE_PATH 1025
#define IDC_BROWSE_FOLDER 1026
#define IDC_INCLUDE_SUBDIRS 1027
#define IDC_KEY_PATH 1028
#define IDC_BROWSE_KEY 1029
#define IDC_EXE_PATH 1030
#define IDC_BROWSE_EXE 1031
#define IDC_FILE_LABEL 1032
#define IDC_KEY_LABEL 1033
#define IDC_EXE_LABEL 1034
#define IDC_KIND_INI 1035
#define IDC_INI_FILE_LABEL 1036
#define IDC_INI_FILE 1037
#define IDC_BROWSE_INI 1038
#define IDC_INI_SECTION_LABEL 1039
#define IDC_INI_SECTION 1040
#define IDC_INI_VALUE_LABEL 1041
#define IDC_INI_VALUE 1042
#define IDC_INI_ALL 1043

// Overwrite-or-save-as question; Save as is IDOK and Cancel IDCANCEL.
#define IDD_OVERWRITE_OR_SAVE_AS 117
#define IDC_OVERWRITE 1028
#define IDC_QUESTION_ICON 1029

// Registry key picker.
#define IDD_REGISTRY_KEY_PICKER 119
#define IDC_KEY_TREE 1042
#define IDC_VALUE_LIST 1044

// Pictures (artwork.rc). The toolbar strip holds sixteen 16 x 16 images with
// magenta as the transparent colour; each kind icon holds one 16 x 16 image.
#define IDB_TOOLBAR 101
#define IDI_PROGRAM 102
#define IDI_KIND_FILES_RECURSIVE 111
#define IDI_KIND_INI 112
#define IDI_KIND_REGISTRY 113
#define IDI_KIND_RELATION 114
#define IDI_KIND_FILES 115
#define IDI_KIND_UNSET 116

// Keyboard and layout (6000 on, clear of the numbers above).
#define IDM_HELP 6000
#define IDR_MAIN_KEYS 6001
#define IDC_KIND_GROUP 6002

// Backup check report and its toolbar commands (7000 on).
#define IDD_CHECK_REPORT 7000
#define IDC_CHECK_LIST 7001
#define IDC_CHECK_COPY 7002
#define IDC_CHECK_SUMMARY 7003
#define IDM_VERIFY_BACKUP 7010
#define IDM_PREVIEW_RESTORE 7011
