#pragma once
// The updater's texts, UTF-8 here, stored in code page 932 by the compiler.

// The cancel question: 14 characters and 12 ideographic spaces (U+3000),
// 52 bytes in code page 932.
constexpr char kTextCancelQuestion[] = "アップデートを中止しますか？　　　　　　　　　　　　";
static_assert(sizeof(kTextCancelQuestion) == 53, "52 bytes in code page 932 and the NUL");
