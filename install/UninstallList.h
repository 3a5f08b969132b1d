#pragma once

// Appends to the folder's "uninst.lst" every name it does not hold yet. True
// only when the whole new list was written; the list is never created and,
// when the result is false, keeps its old bytes.
// The merge writes the new list under this name beside the old one first;
// an installed file of this name would be taken over by it.
constexpr char kNewListName[] = "uninst.new";

bool MergeUninstallList(const char* folder, const char* const* names);
