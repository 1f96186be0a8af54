#pragma once
// Unit ImageListEx: an image list that holds copies of the system's icons and gives a stable
// index of its own for any file path. Toolkit-free: the toolkit provides the pictures through
// ImageStore and the system's icons through SystemImageList.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The toolkit's image list: pictures of one size, appended in order.
class ImageStore {
public:
    virtual ~ImageStore() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual void setWidth(int width) = 0;
    virtual void setHeight(int height) = 0;
    virtual int count() const = 0;
    // Appends a copy of system icon `systemIndex` of this store's own toolkit, from the small
    // (`small` true) or the large system list, sized to this store: the store knows its
    // toolkit's pictures, so no one needs to find out which kind of store it is. The new
    // image's index, or a negative value when there is no such picture or the copy fails.
    virtual int addSystemIcon(int systemIndex, bool small) = 0;
};

// The system's icons (Windows: the shell's system image lists; Linux: the icon theme through
// the registry of os/IconNames.h). One index space serves the small and the large list.
class SystemImageList {
public:
    virtual ~SystemImageList() = default;

    // The system index of the icon for `path`; the file need not exist. -1 when the system
    // has no icon for it.
    virtual int iconIndexOfPath(const std::string& path) = 0;

    // Appends a copy of system icon `systemIndex`, taken from the small (`small` true) or the
    // large system list and sized to `target`, to `target`. The index `target` gave the new
    // image, or a negative value when there is no such picture or the copy fails.
    virtual int copyIcon(int systemIndex, bool small, ImageStore& target) = 0;
};

// An image list attached to one of the system's lists. It shares the system's pictures and
// never owns them.
class SystemImages {
public:
    SystemImages(int width, int height) : m_width(width), m_height(height) {}
    int width() const { return m_width; }
    int height() const { return m_height; }
    bool attached() const { return m_system != nullptr; }
    bool small() const { return m_small; }

    // Copies system icon `systemIndex` into `target`; negative when not attached or the copy
    // fails.
    int copyIconTo(int systemIndex, ImageStore& target) const;

private:
    friend void AttachSystemImageList(SystemImages& List, SystemImageList& system, bool Small);
    int m_width;
    int m_height;
    SystemImageList* m_system = nullptr;
    bool m_small = false;
};

// The system index of the icon for `Path`, -1 when there is none.
int GetSystemIconIndex(SystemImageList& system, const std::string& Path);

// Points `List` at the system's small (`Small` true) or large image list, shared.
void AttachSystemImageList(SystemImages& List, SystemImageList& system, bool Small);

class TImageListEx {
public:
    // `images` is the toolkit's list the copies go into; `system` must outlive this list.
    TImageListEx(std::unique_ptr<ImageStore> images, SystemImageList& system);

    // The index in this list of the system's icon for `Path`; -1 when the system has none.
    int IndexOfFile(const std::string& Path);

    // The index in this list of system icon `SystemIndex`, copying it on first use. -1 for a
    // negative index, which creates nothing; a failed copy gives its negative result and is
    // tried again next time.
    int IndexOfSystemIcon(int SystemIndex);

    // Copies one system icon into this list; the new image's index, negative on failure.
    int AddSystemIcon(int SystemIndex);

    // Creates SystemImages and SystemIndices if they do not exist yet.
    void EnsureSystemList();

    // Called once the list holds the images stored with a window layout: copies follow them.
    void Loaded();

    int LoadedCount() const { return m_loadedCount; }
    // The system indices copied so far, in copy order; nullptr until the first copy is asked for.
    const std::vector<int>* SystemIndices() const { return m_systemIndices.get(); }
    // The attached system list; nullptr until the first copy is asked for.
    const SystemImages* SystemImagesList() const { return m_systemImages.get(); }

    ImageStore& Images() { return *m_images; }
    const ImageStore& Images() const { return *m_images; }
    int Width() const { return m_images->width(); }
    int Height() const { return m_images->height(); }
    void SetWidth(int width) { m_images->setWidth(width); }
    void SetHeight(int height) { m_images->setHeight(height); }
    int Count() const { return m_images->count(); }

private:
    std::unique_ptr<ImageStore> m_images;
    SystemImageList& m_system;
    int m_loadedCount = 0;
    std::unique_ptr<SystemImages> m_systemImages;
    std::unique_ptr<std::vector<int>> m_systemIndices;
    // System index -> position in SystemIndices, so that a repaint's lookup does not walk the list.
    std::unordered_map<int, int> m_positionOf;
};
