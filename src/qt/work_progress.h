#pragma once
// A long piece of work (opening a long recording) off the window thread: the
// windows keep painting, and after a moment a progress dialog says how far it
// is and offers 取消.

#include <QString>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

class QWidget;

namespace qt_adapters {

struct WorkProgress {
    std::atomic<int> permille{0};        // the work's own estimate, 0..1000
    std::atomic<bool> cancelled{false};  // the user chose 取消: end soon

    // `done` of `total` is done; false once the user cancelled.
    bool advance(uint64_t done, uint64_t total) {
        permille = total ? static_cast<int>(std::min<uint64_t>(done, total) * 1000 / total) : 1000;
        return !cancelled;
    }
};

// Runs `work` on a thread of its own and returns once it has ended. Until
// the dialog shows (after `showAfter`), user input waits; the dialog,
// window-modal to `parent`, shows `text` and the progress.
void runWithProgress(QWidget* parent, const QString& text,
                     const std::function<void(WorkProgress&)>& work,
                     std::chrono::milliseconds showAfter = std::chrono::milliseconds(300));

}  // namespace qt_adapters
