// AM_MEDIA_TYPE helpers: deep copies with task memory, as COM callers free them.
#pragma once

#include <windows.h>
#include <strmif.h>

namespace korvane::filters {

// Copies src into dst (format block and pUnk included). dst must not own anything.
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);
// Frees what mt owns and zeroes it; mt itself stays.
void FreeMediaTypeContents(AM_MEDIA_TYPE* mt);
// A task-memory copy that the caller frees with DeleteMediaType-style code.
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE* src);
void DeleteMediaType(AM_MEDIA_TYPE* mt);
// Same major type, subtype, format type and format bytes.
bool MediaTypesEqual(const AM_MEDIA_TYPE* a, const AM_MEDIA_TYPE* b);
// Fills mt with the three GUIDs and a task-memory copy of the format block.
HRESULT MakeMediaType(AM_MEDIA_TYPE* mt, const GUID& major, const GUID& sub, const GUID& format,
                      const void* formatBlock, ULONG formatSize);

// An owning AM_MEDIA_TYPE value.
class MediaType {
public:
    MediaType() { ZeroMemory(&m_mt, sizeof(m_mt)); }
    ~MediaType() { FreeMediaTypeContents(&m_mt); }
    MediaType(const MediaType&) = delete;
    MediaType& operator=(const MediaType&) = delete;
    HRESULT Set(const AM_MEDIA_TYPE* src) {
        FreeMediaTypeContents(&m_mt);
        return CopyMediaType(&m_mt, src);
    }
    void Clear() { FreeMediaTypeContents(&m_mt); }
    AM_MEDIA_TYPE* Get() { return &m_mt; }
    const AM_MEDIA_TYPE* Get() const { return &m_mt; }

private:
    AM_MEDIA_TYPE m_mt;
};

}  // namespace korvane::filters
