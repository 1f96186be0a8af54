#pragma once
// What the commands ask of the desktop shell and the clipboard. The results are not reported:
// a request the desktop cannot serve simply has no effect.
#include <functional>
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

    // The two requests above, for a shell whose file manager may take long to answer.
    enum class FileManagerRequest { SelectItem, ShowProperties };
    // The slow part of a request as a job that may run on any thread, also after this object
    // has gone (it owns all it uses): true when the file manager took the request. Empty when
    // the request is quick: then it is made on the window's thread as it stands.
    virtual std::function<bool()> fileManagerJob(FileManagerRequest request,
                                                 const std::string& path) {
        (void)request;
        (void)path;
        return {};
    }
    // On the window's thread, after a job that the file manager did not take (false or an
    // error): what the request does then.
    virtual void fileManagerRefused(FileManagerRequest request, const std::string& path) {
        (void)request;
        (void)path;
    }
};

class ClipboardText {
public:
    virtual ~ClipboardText() = default;
    // Replaces the clipboard's content with `text` (UTF-8) as plain text; ignored when the
    // clipboard cannot be had.
    virtual void setText(const std::string& text) = 0;
};
