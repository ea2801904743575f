// The source file list of the main window: the list control is the only store of the rows.
// Column 0 holds the file name, column 1 its folder, column 2 the size text.
#pragma once

#include "framework/Framework.h"

#include <commdlg.h>

// "1 File Selected", otherwise "<n> Files Selected".
CString FormatCountText(CListCtrl& list);
// Column 1, "\", column 0: the path the row was added with.
CString GetRowPath(CListCtrl& list, int row);
// TRUE when some row's full path equals path without regard to letter case.
BOOL IsPathListed(CListCtrl& list, const char* path);
// Adds one row for path unless it is listed already; the size cell stays empty when the
// file's status cannot be read.
void AddFileRow(CListCtrl& list, const char* path);
// Fits every column to its widest cell (+8 for the name, +12 for folder and size);
// a list without rows keeps its widths.
void AutoSizeColumns(CListCtrl& list);
// Appends the full paths that a successful open-file dialog returned (one file, or a
// folder followed by several names). Nothing past the buffer's nMaxFile bytes is read.
void SplitOpenFileSelection(const OPENFILENAMEA& ofn, CStringArray& paths);
// False when the result runs to the end of its buffer without its final zero: the
// selection did not fit (Wine cuts such a selection off instead of failing).
bool IsOpenFileSelectionComplete(const OPENFILENAMEA& ofn);
// Whole kilobytes with a "," before every complete group of three digits, then " KB".
CString FormatSizeText(ULONGLONG bytes);
