#include "list/ImageListEx.h"

int SystemImages::copyIconTo(int systemIndex, ImageStore& target) const {
    if (m_system == nullptr)
        return -1;
    return m_system->copyIcon(systemIndex, m_small, target);
}

int GetSystemIconIndex(SystemImageList& system, const std::string& Path) {
    int index = system.iconIndexOfPath(Path);
    return index < 0 ? -1 : index;
}

void AttachSystemImageList(SystemImages& List, SystemImageList& system, bool Small) {
    List.m_system = &system;
    List.m_small = Small;
}

TImageListEx::TImageListEx(std::unique_ptr<ImageStore> images, SystemImageList& system)
    : m_images(std::move(images)), m_system(system) {}

int TImageListEx::IndexOfFile(const std::string& Path) {
    return IndexOfSystemIcon(GetSystemIconIndex(m_system, Path));
}

int TImageListEx::IndexOfSystemIcon(int SystemIndex) {
    if (SystemIndex < 0)
        return -1;
    EnsureSystemList();
    if (auto found = m_positionOf.find(SystemIndex); found != m_positionOf.end())
        return found->second + m_loadedCount;
    int result = AddSystemIcon(SystemIndex);
    if (result >= 0) {
        m_positionOf.emplace(SystemIndex, static_cast<int>(m_systemIndices->size()));
        m_systemIndices->push_back(SystemIndex);
    }
    return result;
}

int TImageListEx::AddSystemIcon(int SystemIndex) {
    EnsureSystemList();
    return m_systemImages->copyIconTo(SystemIndex, *m_images);
}

void TImageListEx::EnsureSystemList() {
    if (m_systemImages)
        return;
    m_systemImages = std::make_unique<SystemImages>(Width(), Height());
    // The width alone picks the list: exactly 16 is the small one.
    AttachSystemImageList(*m_systemImages, m_system, Width() == 16);
    m_systemIndices = std::make_unique<std::vector<int>>();
}

void TImageListEx::Loaded() {
    m_loadedCount = m_images->count();
}
