#include "engine/Pins.h"

#include "win32/ComPtr.h"

#include <vfwmsgs.h>

void DeleteEnumeratedMediaType(AM_MEDIA_TYPE* mediaType) {
    if (!mediaType) return;
    if (mediaType->cbFormat != 0) {
        CoTaskMemFree(mediaType->pbFormat);
        mediaType->cbFormat = 0;
        mediaType->pbFormat = nullptr;
    }
    if (mediaType->pUnk) {
        mediaType->pUnk->Release();
        mediaType->pUnk = nullptr;
    }
    CoTaskMemFree(mediaType);
}

namespace {

bool PinIsFree(IPin* pin) {
    ComPtr<IPin> peer;
    return FAILED(pin->ConnectedTo(peer.Out()));
}

// Offers the whole list, from its start, to one pin.
bool PinAcceptsOneOf(IPin* pin, IEnumMediaTypes* mediaTypes) {
    if (FAILED(mediaTypes->Reset())) return false;
    for (;;) {
        AM_MEDIA_TYPE* mediaType = nullptr;
        ULONG fetched = 0;
        // An enumerator that claims a type but hands out none ends the list.
        if (FAILED(mediaTypes->Next(1, &mediaType, &fetched)) || fetched == 0 || !mediaType) return false;
        // S_FALSE is no refusal: only a failure code rejects a type, Connect decides the rest.
        const bool accepted = SUCCEEDED(pin->QueryAccept(mediaType));
        DeleteEnumeratedMediaType(mediaType);
        if (accepted) return true;
    }
}

}  // namespace

HRESULT FindFreePin(IBaseFilter* filter, IEnumMediaTypes* mediaTypes, PIN_DIRECTION direction,
                    IPin** pinOut) {
    *pinOut = nullptr;
    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Out());
    if (FAILED(hr)) return hr;
    if (!pins) return E_FAIL;
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.Out(), nullptr) != S_OK || !pin) return E_FAIL;
        PIN_DIRECTION pinDirection = PINDIR_INPUT;
        const bool directionKnown = SUCCEEDED(pin->QueryDirection(&pinDirection));
        if (directionKnown && pinDirection == direction && PinIsFree(pin.Get()) &&
            (!mediaTypes || PinAcceptsOneOf(pin.Get(), mediaTypes))) {
            *pinOut = pin.Detach();
            return S_OK;
        }
    }
}

HRESULT ConnectPinToFilter(IGraphBuilder* graph, IPin* outputPin, IBaseFilter* target) {
    if (!graph || !outputPin || !target) return E_POINTER;
    ComPtr<IEnumMediaTypes> mediaTypes;
    HRESULT hr = outputPin->EnumMediaTypes(mediaTypes.Out());
    if (FAILED(hr)) return hr;
    if (!mediaTypes) return E_FAIL;
    ComPtr<IPin> inputPin;
    hr = FindFreePin(target, mediaTypes.Get(), PINDIR_INPUT, inputPin.Out());
    // Let go before the join: the output pin is never asked to connect with its type list still out.
    mediaTypes.Reset();
    if (FAILED(hr)) return hr;
    return graph->Connect(outputPin, inputPin.Get());
}

HRESULT ConnectFilters(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to) {
    if (!graph || !from || !to) return E_POINTER;
    int connections = 0;
    for (;;) {
        ComPtr<IPin> pin;
        if (FAILED(FindFreePin(from, nullptr, PINDIR_OUTPUT, pin.Out()))) break;
        HRESULT hr = ConnectPinToFilter(graph, pin.Get(), to);
        // A connection reported made while the pin stays free would be found free again, and
        // this loop would never end.
        if (SUCCEEDED(hr) && PinIsFree(pin.Get())) return VFW_E_NOT_CONNECTED;
        if (FAILED(hr)) break;
        ++connections;
    }
    return connections >= 1 ? S_OK : E_FAIL;
}
