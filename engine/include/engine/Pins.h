// Joining neighbouring filters pin by pin. Free functions without state of their own.
#pragma once

#include <windows.h>
#include <strmif.h>

// Frees a media type handed out by a media-type enumerator: format block, pUnk, the record.
void DeleteEnumeratedMediaType(AM_MEDIA_TYPE* mediaType);

// Finds an unconnected pin of the given direction; with mediaTypes, one that accepts one of
// them (any non-negative QueryAccept). *pinOut gets one reference for the caller.
HRESULT FindFreePin(IBaseFilter* filter, IEnumMediaTypes* mediaTypes, PIN_DIRECTION direction, IPin** pinOut);

// Connects outputPin to the first free input pin of target that accepts one of its types.
HRESULT ConnectPinToFilter(IGraphBuilder* graph, IPin* outputPin, IBaseFilter* target);

// Connects every free output pin of from to to, stopping at the first that cannot be joined.
// S_OK when at least one connection was made; VFW_E_NOT_CONNECTED as soon as a connection
// reported made leaves its output pin free.
HRESULT ConnectFilters(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to);
