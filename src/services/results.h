#pragma once
// Numeric results that dialogs and message boxes return, with their Windows values.

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Log levels and message-box kinds.
constexpr int LOG_DEBUG = 0;
constexpr int LOG_CONFIRM = 1;
constexpr int LOG_INFO = 2;
constexpr int LOG_WARN = 3;
constexpr int LOG_ERROR = 4;
constexpr int LOG_FATAL = 5;
