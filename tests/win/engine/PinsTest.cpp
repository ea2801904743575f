// Joining filters pin by pin, against Wine's filter graph manager and the test filters.
#include "engine/Pins.h"
#include "TestSupport.h"

#include <uuids.h>

namespace {

class PinsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LiveTestObjects(), 0);
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IGraphBuilder, reinterpret_cast<void**>(&graph)));
    }
    void TearDown() override {
        for (IBaseFilter* filter : filters) {
            graph->RemoveFilter(filter);
            filter->Release();
        }
        graph->Release();
        EXPECT_EQ(LiveTestObjects(), 0) << "a reference was left behind";
    }

    IBaseFilter* Add(TestFilterKind kind) {
        IBaseFilter* filter = nullptr;
        EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(TestFilterClass(kind), nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
        if (!filter) return nullptr;
        const std::wstring name = L"F" + std::to_wstring(filters.size());
        EXPECT_HRESULT_SUCCEEDED(graph->AddFilter(filter, name.c_str()));
        filters.push_back(filter);
        return filter;
    }

    static bool IsConnected(IBaseFilter* filter, const wchar_t* pinName) {
        IPin* pin = nullptr;
        if (FAILED(filter->FindPin(pinName, &pin))) return false;
        IPin* peer = nullptr;
        const bool connected = SUCCEEDED(pin->ConnectedTo(&peer));
        if (peer) peer->Release();
        pin->Release();
        return connected;
    }

    static IPin* Pin(IBaseFilter* filter, const wchar_t* name) {
        IPin* pin = nullptr;
        filter->FindPin(name, &pin);
        return pin;
    }

    ComApartment com;
    IGraphBuilder* graph = nullptr;
    std::vector<IBaseFilter*> filters;
};

TEST_F(PinsTest, AFilterWithoutPinsHasNoFreePin) {
    IBaseFilter* empty = Add(kNoPins);
    IPin* pin = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(FindFreePin(empty, nullptr, PINDIR_OUTPUT, &pin), E_FAIL);
    EXPECT_EQ(pin, nullptr);
    EXPECT_EQ(FindFreePin(empty, nullptr, PINDIR_INPUT, &pin), E_FAIL);
}

TEST_F(PinsTest, FindsPinsByDirectionAndSkipsConnectedOnes) {
    IBaseFilter* pass = Add(kPass);
    IBaseFilter* mux = Add(kMuxLike);
    IPin* pin = nullptr;
    ASSERT_EQ(FindFreePin(pass, nullptr, PINDIR_OUTPUT, &pin), S_OK);
    PIN_DIRECTION direction = PINDIR_INPUT;
    pin->QueryDirection(&direction);
    EXPECT_EQ(direction, PINDIR_OUTPUT);
    pin->Release();

    ASSERT_EQ(ConnectFilters(graph, pass, mux), S_OK);
    EXPECT_EQ(FindFreePin(pass, nullptr, PINDIR_OUTPUT, &pin), E_FAIL);
    EXPECT_EQ(pin, nullptr);
}

// A pin that cannot tell its direction is skipped like one of the other direction, and the
// reference the enumerator gave for it is released.
TEST_F(PinsTest, APinWhoseDirectionIsUnknownIsSkippedAndReleased) {
    IBaseFilter* target = Add(kNoDirection);
    target->AddRef();
    const ULONG before = target->Release();
    IPin* pin = nullptr;
    ASSERT_EQ(FindFreePin(target, nullptr, PINDIR_INPUT, &pin), S_OK);
    LPWSTR id = nullptr;
    ASSERT_HRESULT_SUCCEEDED(pin->QueryId(&id));
    EXPECT_STREQ(id, L"In1");
    CoTaskMemFree(id);
    pin->Release();
    EXPECT_EQ(FindFreePin(target, nullptr, PINDIR_OUTPUT, &pin), E_FAIL);
    target->AddRef();
    EXPECT_EQ(target->Release(), before);

    IBaseFilter* pass = Add(kPass);
    ASSERT_EQ(ConnectFilters(graph, pass, target), S_OK);
    EXPECT_FALSE(IsConnected(target, L"In0"));
    EXPECT_TRUE(IsConnected(target, L"In1"));
}

TEST_F(PinsTest, MissingArgumentsGivePointerErrors) {
    IBaseFilter* pass = Add(kPass);
    IPin* out = Pin(pass, L"Out1");
    EXPECT_EQ(ConnectPinToFilter(nullptr, out, pass), E_POINTER);
    EXPECT_EQ(ConnectPinToFilter(graph, nullptr, pass), E_POINTER);
    EXPECT_EQ(ConnectPinToFilter(graph, out, nullptr), E_POINTER);
    EXPECT_EQ(ConnectFilters(nullptr, pass, pass), E_POINTER);
    EXPECT_EQ(ConnectFilters(graph, nullptr, pass), E_POINTER);
    EXPECT_EQ(ConnectFilters(graph, pass, nullptr), E_POINTER);
    out->Release();
}

TEST_F(PinsTest, AnOutputWithoutTypesIsNotOfferedToTheGraph) {
    IBaseFilter* source = Add(kNoTypesOutput);
    IBaseFilter* target = Add(kPass);
    IPin* out = Pin(source, L"Out0");
    ASSERT_NE(out, nullptr);
    // E_FAIL is FindFreePin's own answer; a Connect call would have given a VFW_E_ code.
    EXPECT_EQ(ConnectPinToFilter(graph, out, target), E_FAIL);
    out->Release();
    EXPECT_FALSE(IsConnected(target, L"In0"));
}

TEST_F(PinsTest, AnInputThatRefusesEveryTypeIsNotChosen) {
    IBaseFilter* source = Add(kPass);
    IBaseFilter* target = Add(kRefuseInput);
    IEnumMediaTypes* types = nullptr;
    IPin* out = Pin(source, L"Out1");
    ASSERT_HRESULT_SUCCEEDED(out->EnumMediaTypes(&types));
    IPin* pin = nullptr;
    EXPECT_EQ(FindFreePin(target, types, PINDIR_INPUT, &pin), E_FAIL);
    EXPECT_EQ(ConnectPinToFilter(graph, out, target), E_FAIL);
    types->Release();
    out->Release();
}

TEST_F(PinsTest, QueryAcceptAnsweringSFalseStillCountsAsAcceptance) {
    IBaseFilter* source = Add(kPass);
    IBaseFilter* target = Add(kSFalseInput);
    IPin* out = Pin(source, L"Out1");
    EXPECT_EQ(ConnectPinToFilter(graph, out, target), S_OK);
    out->Release();
    EXPECT_TRUE(IsConnected(target, L"In0"));
}

TEST_F(PinsTest, TheSecondFreeInputIsUsedWhenTheFirstAcceptsNothing) {
    IBaseFilter* source = Add(kPass);
    IBaseFilter* target = Add(kSecondInput);
    EXPECT_EQ(ConnectFilters(graph, source, target), S_OK);
    EXPECT_FALSE(IsConnected(target, L"In0"));
    EXPECT_TRUE(IsConnected(target, L"In1"));
}

TEST_F(PinsTest, EveryOutputIsJoinedToAMultiplexerThatGrowsInputs) {
    IBaseFilter* demuxer = Add(kTwoOutputs);
    IBaseFilter* muxer = Add(kMuxLike);
    EXPECT_EQ(ConnectFilters(graph, demuxer, muxer), S_OK);
    EXPECT_TRUE(IsConnected(demuxer, L"Out1"));
    EXPECT_TRUE(IsConnected(demuxer, L"Out2"));
    EXPECT_TRUE(IsConnected(muxer, L"In0"));
    EXPECT_TRUE(IsConnected(muxer, L"In2"));  // pin 1 is the output; the new inputs follow it
}

TEST_F(PinsTest, AFirstOutputThatCannotBeJoinedEndsTheLoop) {
    IBaseFilter* demuxer = Add(kTwoOutputs);
    IBaseFilter* onlyB = Add(kAcceptsOnlyB);
    EXPECT_EQ(ConnectFilters(graph, demuxer, onlyB), E_FAIL);
    EXPECT_FALSE(IsConnected(demuxer, L"Out1"));
    EXPECT_FALSE(IsConnected(demuxer, L"Out2")) << "the second output must not be tried";
}

TEST_F(PinsTest, ASecondOutputThatCannotBeJoinedStillSucceeds) {
    IBaseFilter* demuxer = Add(kTwoOutputs);
    IBaseFilter* onlyA = Add(kAcceptsOnlyA);
    EXPECT_EQ(ConnectFilters(graph, demuxer, onlyA), S_OK);
    EXPECT_TRUE(IsConnected(demuxer, L"Out1"));
    EXPECT_FALSE(IsConnected(demuxer, L"Out2"));
}

TEST_F(PinsTest, NothingToJoinGivesFail) {
    IBaseFilter* empty = Add(kNoPins);
    IBaseFilter* target = Add(kPass);
    EXPECT_EQ(ConnectFilters(graph, empty, target), E_FAIL);
}

TEST_F(PinsTest, FreeingAnEnumeratedTypeReleasesFormatAndObject) {
    IBaseFilter* source = Add(kPass);
    IPin* out = Pin(source, L"Out1");
    IEnumMediaTypes* types = nullptr;
    ASSERT_HRESULT_SUCCEEDED(out->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(types->Next(1, &type, nullptr), S_OK);
    const long before = LiveTestObjects();
    // Hand the type an object of its own and a format block, as a real enumerator may.
    types->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&type->pUnk));
    types->Release();
    type->cbFormat = 64;
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(64));
    EXPECT_EQ(LiveTestObjects(), before);
    DeleteEnumeratedMediaType(type);
    EXPECT_EQ(LiveTestObjects(), before - 1) << "pUnk was not released";
    DeleteEnumeratedMediaType(nullptr);
    out->Release();
}

}  // namespace
