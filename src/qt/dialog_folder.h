#pragma once
// Where a program's file dialogs start: the folder the user last chose a
// file in (profile section "Files", key "LastFolder"), or the documents
// folder the first time; never the program's own folder, which an installed
// program may not write.

#include <QString>

#include "common/profile.h"

namespace qt_adapters {

class DialogFolder {
  public:
    explicit DialogFolder(common::Profile& profile) : profile_(profile) {}

    QString start() const;
    // `name` in the start folder, for a save dialog's suggestion; the folder alone when empty.
    QString suggest(const QString& name) const;
    // A file was chosen: its folder is where the next dialog starts.
    void remember(const QString& chosenPath);

  private:
    common::Profile& profile_;
};

}  // namespace qt_adapters
