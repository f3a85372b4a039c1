// The few texts the program shows that are not in the catalogue: the file
// dialogs' filters, whose names are Japanese in every language, the INI and
// compression notices.
#pragma once

// Name and pattern pairs, each text zero-terminated, the list ended by an
// empty text, as the common file dialogs take them.
inline constexpr wchar_t kArchiveFilter[] = L"圧縮ファイル(*.lzh)\0*.lzh\0全ファイル(*.*)\0*.*\0";
inline constexpr wchar_t kZipFilter[] = L"ZIP (*.zip)\0*.zip\0全ファイル(*.*)\0*.*\0";
inline constexpr wchar_t kExecutableFilter[] = L"実行ファイル(*.exe)\0*.exe\0全ファイル(*.*)\0*.*\0";
inline constexpr wchar_t kIniFileFilter[] = L"INIファイル(*.ini)\0*.ini\0全ファイル(*.*)\0*.*\0";
inline constexpr wchar_t kTemplateFilter[] = L"Template (*.txt)\0*.txt\0";

// The text of an INI entry, and what Add and Update say when they make one.
inline constexpr char kIniEntryText[] = "(INI)";
inline constexpr char kIniEntryNotSupported[] = "Ini is not supported yet.";

// What a backup says of an INI entry, and of a compression type.
inline constexpr char kIniNotSupported[] = "INIbackup has not been supported yet. ";
inline constexpr char kCompressionNotice[] =
    "Compress have not supported yet!\nPlease compress yourself after backup.\nsorry.";
inline constexpr char kCompressionCaption[] = "NON IMPLEMENTED FUNCTION";
