// IEnumPins and IEnumMediaTypes over the base's pins.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <vector>

#include "win32/ComObject.h"

#include "ObjectCount.h"

namespace korvane::filters {

class BaseFilter;
class BasePin;

class PinEnumerator final : public ComObject<IEnumPins>, private Counted<ObjectKind::Enumerator> {
public:
    // Takes a snapshot of the filter's pins; Next answers VFW_E_ENUM_OUT_OF_SYNC once the
    // filter's pin list has changed, until Reset takes a new snapshot.
    static HRESULT Create(BaseFilter* filter, ULONG position, IEnumPins** out);

    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** out) override;

private:
    explicit PinEnumerator(BaseFilter* filter);
    void Snapshot();

    ComPtr<BaseFilter> m_filter;
    std::vector<BasePin*> m_pins;
    LONG m_version = 0;
    ULONG m_position = 0;
};

class MediaTypeEnumerator final : public ComObject<IEnumMediaTypes>, private Counted<ObjectKind::Enumerator> {
public:
    static HRESULT Create(BasePin* pin, ULONG position, IEnumMediaTypes** out);

    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** out) override;

private:
    explicit MediaTypeEnumerator(BasePin* pin);
    ULONG Count();

    ComPtr<BasePin> m_pin;  // holds the filter
    ULONG m_position = 0;
};

}  // namespace korvane::filters
