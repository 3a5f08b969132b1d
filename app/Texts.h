#pragma once
// The updater's texts, UTF-8 here, stored in code page 932 by the compiler.
// Most message texts are padded with ideographic spaces (U+3000, two bytes
// each) to 52 bytes; the spaces are part of what the box shows.

// The caption block cannot be read (status -5). 8 ideographic spaces.
constexpr char kTextCaptionFailed[] = "バージョン情報の取得に失敗しました。　　　　　　　　";
static_assert(sizeof(kTextCaptionFailed) == 53, "52 bytes in code page 932 and the NUL");

// Replaces the caption when the caption block cannot be read.
constexpr char kTextFallbackCaption[] = "エラー";
static_assert(sizeof(kTextFallbackCaption) == 7, "6 bytes in code page 932 and the NUL");

// The game, its launcher or its uninstaller runs (status -2).
constexpr char kTextGameRunning[] = "ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデートを行えません";
static_assert(sizeof(kTextGameRunning) == 87, "86 bytes in code page 932 and the NUL");

// The install folder is not in the registry (status -1). 9 ideographic spaces.
constexpr char kTextNotInstalled[] = "ゲームがインストールされていません　　　　　　　　　";
static_assert(sizeof(kTextNotInstalled) == 53, "52 bytes in code page 932 and the NUL");

// The confirmation before the run. 13 ideographic spaces.
constexpr char kTextConfirmUpdate[] = "アップデートを行いますか？　　　　　　　　　　　　　";
static_assert(sizeof(kTextConfirmUpdate) == 53, "52 bytes in code page 932 and the NUL");

// The progress dialog cannot be created (status -4). 10 ideographic spaces.
constexpr char kTextDialogFailed[] = "ダイアログの起動に失敗しました。　　　　　　　　　　";
static_assert(sizeof(kTextDialogFailed) == 53, "52 bytes in code page 932 and the NUL");

// The cancel question, owned by the progress dialog. 12 ideographic spaces.
constexpr char kTextCancelQuestion[] = "アップデートを中止しますか？　　　　　　　　　　　　";
static_assert(sizeof(kTextCancelQuestion) == 53, "52 bytes in code page 932 and the NUL");

// The run succeeded. 13 ideographic spaces.
constexpr char kTextCompleted[] = "アップデートが完了しました　　　　　　　　　　　　　";
static_assert(sizeof(kTextCompleted) == 53, "52 bytes in code page 932 and the NUL");

// The package is damaged or holds too many entries.
constexpr char kTextPackageDamaged[] = "アップデートプログラムが破損している可能性があります";
static_assert(sizeof(kTextPackageDamaged) == 53, "52 bytes in code page 932 and the NUL");

// A file could not be written or moved into place. 5 ideographic spaces.
constexpr char kTextCannotUpdate[] = "何らかの要因によりアップデートが行えません　　　　　";
static_assert(sizeof(kTextCannotUpdate) == 53, "52 bytes in code page 932 and the NUL");

// The files are in place but the uninstall list was not updated. 1 ideographic spaces.
constexpr char kTextUninstallListFailed[] = "アンインストレーションファイルの更新に失敗しました　";
static_assert(sizeof(kTextUninstallListFailed) == 53, "52 bytes in code page 932 and the NUL");

// Shared with the game, its launcher and its uninstaller.
constexpr char kUpdaterMutexName[] = "Updater for Vestrial is executing.";
constexpr char kGameMutexName[] = "Jorvane for Vestrial is executing.";

// Where the game records its install folder, under HKEY_LOCAL_MACHINE.
constexpr char kPublisherName[] = "Quellmark";
constexpr char kProductName[] = "Vestrial";
constexpr char kInstallFolderValue[] = "InstalledFolder";
