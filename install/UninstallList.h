#pragma once

// Appends to the folder's "uninst.lst" every name it does not hold yet. True
// only when the whole new list was written; the list is never created and,
// when the result is false, keeps its old bytes.
bool MergeUninstallList(const char* folder, const char* const* names);
