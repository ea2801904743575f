#include "Pins.h"

#include <vfwmsgs.h>

void DeleteEnumeratedMediaType(AM_MEDIA_TYPE* mediaType) {
    if (!mediaType)
        return;
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
    IPin* peer = nullptr;
    if (SUCCEEDED(pin->ConnectedTo(&peer))) {
        if (peer)
            peer->Release();
        return false;
    }
    return true;
}

// Offers the whole list, from its start, to one pin.
bool PinAcceptsOneOf(IPin* pin, IEnumMediaTypes* mediaTypes) {
    if (FAILED(mediaTypes->Reset()))
        return false;
    for (;;) {
        AM_MEDIA_TYPE* mediaType = nullptr;
        ULONG fetched = 0;
        // An enumerator that claims a type but hands out none ends the list.
        if (FAILED(mediaTypes->Next(1, &mediaType, &fetched)) || fetched == 0 || !mediaType)
            return false;
        // S_FALSE is no refusal: only a failure code rejects a type, Connect decides the rest.
        const bool accepted = SUCCEEDED(pin->QueryAccept(mediaType));
        DeleteEnumeratedMediaType(mediaType);
        if (accepted)
            return true;
    }
}

}  // namespace

HRESULT FindFreePin(IBaseFilter* filter, IEnumMediaTypes* mediaTypes, PIN_DIRECTION direction,
                    IPin** pinOut) {
    *pinOut = nullptr;
    IEnumPins* pins = nullptr;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    for (;;) {
        IPin* pin = nullptr;
        if (pins->Next(1, &pin, nullptr) != S_OK || !pin) {
            pins->Release();
            return E_FAIL;
        }
        PIN_DIRECTION pinDirection = PINDIR_INPUT;
        const bool directionKnown = SUCCEEDED(pin->QueryDirection(&pinDirection));
        if (directionKnown && pinDirection == direction && PinIsFree(pin) &&
            (!mediaTypes || PinAcceptsOneOf(pin, mediaTypes))) {
            pins->Release();
            *pinOut = pin;
            return S_OK;
        }
        pin->Release();
    }
}

HRESULT ConnectPinToFilter(IGraphBuilder* graph, IPin* outputPin, IBaseFilter* target) {
    if (!graph || !outputPin || !target)
        return E_POINTER;
    IEnumMediaTypes* mediaTypes = nullptr;
    HRESULT hr = outputPin->EnumMediaTypes(&mediaTypes);
    if (FAILED(hr))
        return hr;
    IPin* inputPin = nullptr;
    hr = FindFreePin(target, mediaTypes, PINDIR_INPUT, &inputPin);
    mediaTypes->Release();
    if (FAILED(hr))
        return hr;
    hr = graph->Connect(outputPin, inputPin);
    inputPin->Release();
    return hr;
}

HRESULT ConnectFilters(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to) {
    if (!graph || !from || !to)
        return E_POINTER;
    int connections = 0;
    for (;;) {
        IPin* pin = nullptr;
        if (FAILED(FindFreePin(from, nullptr, PINDIR_OUTPUT, &pin)))
            break;
        HRESULT hr = ConnectPinToFilter(graph, pin, to);
        // A connection reported made while the pin stays free would be found free again, and
        // this loop would never end.
        const bool stillFree = SUCCEEDED(hr) && PinIsFree(pin);
        pin->Release();
        if (stillFree)
            return VFW_E_NOT_CONNECTED;
        if (FAILED(hr))
            break;
        ++connections;
    }
    return connections >= 1 ? S_OK : E_FAIL;
}
