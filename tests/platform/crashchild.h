#pragma once
// Shared by the crash tests and the child process they crash.

// Held only on the child's heap: no report may show it.
inline constexpr char kCrashChildSecret[] = "patient-record-7f3a9c41-credential-e52d";

// Given to the child in its environment, as a proxy password would be: the
// copy at the top of its stack must not reach a report either.
inline constexpr char kCrashChildEnvironmentSecret[] = "proxy-password-51c0e7d2a8";
