#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

// The save dialog that picks a file name. Like the message boxes, every
// request passes a global hook first, so tests (and the end-to-end runs)
// answer it without a person.

struct FileDialogRequest {
    QString caption;
    QString directory;  // where the dialog opens
    QString filter;     // "CSV (*.csv)"
};

// Returns the name to use, or no name (the dialog cancelled).
using FileDialogHook = std::function<std::optional<QString>(const FileDialogRequest&)>;

// Installs hook (empty: none) and returns the previous one.
FileDialogHook SetFileDialogHook(FileDialogHook hook);

// Runs the save dialog modally (through the hook when one is installed);
// empty when cancelled. Asks before replacing nothing: a chosen file that
// exists is for appending to.
QString GetSaveFileName(QWidget* parent, const FileDialogRequest& request);

// Test helper: answers every save dialog with the next of the given answers
// (no name: cancelled; past the last: cancelled), records the requests, and
// restores the previous hook when it goes.
class FileDialogAnswerer {
public:
    explicit FileDialogAnswerer(std::vector<std::optional<QString>> answers);
    ~FileDialogAnswerer();
    FileDialogAnswerer(const FileDialogAnswerer&) = delete;
    FileDialogAnswerer& operator=(const FileDialogAnswerer&) = delete;

    const std::vector<FileDialogRequest>& Requests() const noexcept { return requests_; }

private:
    std::vector<std::optional<QString>> answers_;
    std::vector<FileDialogRequest> requests_;
    FileDialogHook previous_;
};
