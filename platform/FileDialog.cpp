#include "FileDialog.h"

#include "MessageBox.h"

#include <QFileDialog>

namespace {

FileDialogHook& CurrentHook()
{
    static FileDialogHook hook;
    return hook;
}

}  // namespace

FileDialogHook SetFileDialogHook(FileDialogHook hook)
{
    FileDialogHook previous = std::move(CurrentHook());
    CurrentHook() = std::move(hook);
    return previous;
}

QString GetSaveFileName(QWidget* parent, const FileDialogRequest& request)
{
    RequireGuiThread();
    // Copy: the hook may replace itself while it runs.
    const FileDialogHook hook = CurrentHook();
    if (hook) {
        return hook(request).value_or(QString());
    }
    // An existing file is appended to, so there is nothing to confirm.
    return QFileDialog::getSaveFileName(parent, request.caption, request.directory, request.filter,
                                        nullptr, QFileDialog::DontConfirmOverwrite);
}

FileDialogAnswerer::FileDialogAnswerer(std::vector<std::optional<QString>> answers)
    : answers_(std::move(answers))
{
    previous_ = SetFileDialogHook([this](const FileDialogRequest& request) {
        const std::size_t index = requests_.size();
        requests_.push_back(request);
        return index < answers_.size() ? answers_[index] : std::nullopt;
    });
}

FileDialogAnswerer::~FileDialogAnswerer()
{
    SetFileDialogHook(std::move(previous_));
}
