#pragma once
// What the commands ask of the desktop shell and the clipboard. The results are not reported:
// a request the desktop cannot serve simply has no effect.
#include <string>

class ShellRequests {
public:
    virtual ~ShellRequests() = default;
    // Opens a web address or a local file (full path) with the desktop's default handler.
    virtual void openDocument(const std::string& urlOrPath) = 0;
    // Opens the help file `helpFile` (full path) at its section `section`; by default at its
    // beginning.
    virtual void openHelpSection(const std::string& helpFile, const std::string& section) {
        (void)section;
        openDocument(helpFile);
    }
    // Shows the folder of the file `path` in the file manager with the file selected.
    virtual void selectInFileManager(const std::string& path) = 0;
    // Shows the file manager's properties of the file `path`.
    virtual void showProperties(const std::string& path) = 0;
};

class ClipboardText {
public:
    virtual ~ClipboardText() = default;
    // Replaces the clipboard's content with `text` (UTF-8) as plain text; ignored when the
    // clipboard cannot be had.
    virtual void setText(const std::string& text) = 0;
};
