#include "MediaTypes.h"

#include <cstring>

namespace korvane::filters {

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
    *dst = *src;
    dst->pbFormat = nullptr;
    dst->cbFormat = 0;
    if (src->cbFormat && src->pbFormat) {
        dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
        if (!dst->pbFormat) {
            dst->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
        dst->cbFormat = src->cbFormat;
    }
    if (dst->pUnk) dst->pUnk->AddRef();
    return S_OK;
}

void FreeMediaTypeContents(AM_MEDIA_TYPE* mt) {
    if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
    mt->pbFormat = nullptr;
    mt->cbFormat = 0;
    if (mt->pUnk) mt->pUnk->Release();
    mt->pUnk = nullptr;
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE* src) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) return nullptr;
    if (FAILED(CopyMediaType(mt, src))) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return;
    FreeMediaTypeContents(mt);
    CoTaskMemFree(mt);
}

bool MediaTypesEqual(const AM_MEDIA_TYPE* a, const AM_MEDIA_TYPE* b) {
    return IsEqualGUID(a->majortype, b->majortype) && IsEqualGUID(a->subtype, b->subtype) &&
           IsEqualGUID(a->formattype, b->formattype) && a->cbFormat == b->cbFormat &&
           (a->cbFormat == 0 || std::memcmp(a->pbFormat, b->pbFormat, a->cbFormat) == 0);
}

HRESULT MakeMediaType(AM_MEDIA_TYPE* mt, const GUID& major, const GUID& sub, const GUID& format,
                      const void* formatBlock, ULONG formatSize) {
    ZeroMemory(mt, sizeof(*mt));
    mt->majortype = major;
    mt->subtype = sub;
    mt->formattype = format;
    mt->bFixedSizeSamples = FALSE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = 0;
    if (formatSize) {
        mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(formatSize));
        if (!mt->pbFormat) return E_OUTOFMEMORY;
        std::memcpy(mt->pbFormat, formatBlock, formatSize);
        mt->cbFormat = formatSize;
    }
    return S_OK;
}

}  // namespace korvane::filters
