#pragma once
// The files the demo prints: label files in a label language and a PDF whose
// pages can be told apart on paper.

#include <QString>

namespace vek::demo {

inline constexpr int kDemoDocumentPages = 2;

// DIR/label-N.zpl for N = 1..count, each with its own text, and
// DIR/document.pdf with kDemoDocumentPages A4 pages. False when a file cannot be written.
bool WriteDemoFiles(const QString &directory, int labelCount);

// Saves the queue's current default driver settings as the profile
// "Default" in the per-user store and allows printing on the queue.
bool SaveQueueProfile(const QString &queue);

}  // namespace vek::demo
