#pragma once
// Shared by the crash tests and the child process they crash.

// Held only on the child's heap: no report may show it.
inline constexpr char kCrashChildSecret[] = "patient-record-7f3a9c41-credential-e52d";
