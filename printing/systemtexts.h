#pragma once
// Texts that name the operating system's printing. The Windows build says
// what its users know ("Windows"); other builds name their own spooler. Each
// text makes its choice here and nowhere else.

#include "vek/product.h"

namespace vek::printing::systemtext {

// Menu entry that opens the print profiles dialog.
inline constexpr const char *kPrintersMenuEntry = product::kWindowsBuild
    ? "Printers and Windows settings / الطابعات وإعدادات ويندوز"
    : "Printers and print settings / الطابعات وإعداداتها";

inline constexpr const char *kProfilesDialogTitle = product::kWindowsBuild
    ? "Printers and Windows print profiles / الطابعات وإعداداتها"
    : "Printers and print profiles / الطابعات وإعداداتها";

// The button that opens the driver's settings for the current profile.
inline constexpr const char *kDriverSettingsButton = product::kWindowsBuild
    ? "Windows printing preferences / إعدادات ويندوز"
    : "Printer options / إعدادات الطابعة";

// The tray's last-job line; %1 is the time.
inline constexpr const char *kLastJobSent
    = product::kWindowsBuild ? "Last job: sent to Windows on %1" : "Last job: sent to CUPS on %1";

// A PDF job that the spooler refused to start (untranslated, sent to the clinic).
inline constexpr const char *kPrintJobRejected
    = product::kWindowsBuild ? "Windows rejected the print job" : "CUPS rejected the print job";

}  // namespace vek::printing::systemtext
