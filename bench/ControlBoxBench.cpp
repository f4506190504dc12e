// What painting the keys costs on our side: picture to 20 image reports per key.
// The device is a sink (every output report accepted and dropped), so the figures are the
// conversion and the report path, without any USB transfer.

#include <benchmark/benchmark.h>

#include "JvHidDevice.h"
#include "JvHidDeviceController.h"
#include "MainThread.h"
#include "SDImageEncoder.h"
#include "VirtualHidBus.h"
#include "uStreamDeck.h"

namespace {

// A virtual bus whose devices accept output reports without keeping them.
class SinkBus : public VirtualHidBus {
public:
    bool Write(HidFile&, const void* report, std::uint32_t size, std::uint32_t& written) override {
        benchmark::DoNotOptimize(report);
        written = size;
        return true;
    }
};

Bitmap24 Picture() {
    Bitmap24 bmp(80, 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x)
            bmp.SetPixel(x, y, Rgb{static_cast<std::uint8_t>(3 * x), static_cast<std::uint8_t>(3 * y),
                                   static_cast<std::uint8_t>(x ^ y)});
    return bmp;
}

// A six-key control box on the sink bus, with six default pictures.
struct Rig {
    Rig() {
        MainThread::Initialize();
        Bus.PlugControlBox(L"BENCH");
        Controller.DeviceChange();
        Controller.CheckOut(Device);
        for (int i = 0; i < 6; ++i) List.AddDefaultBitmap(&Image);
        Box = std::make_unique<TSD>(&List, Device);
    }
    ~Rig() {
        Box.reset();
        Controller.CheckIn(Device);
    }
    SinkBus Bus;
    TJvHidDeviceController Controller{Bus};
    TJvHidDevice* Device = nullptr;
    Bitmap24 Image = Picture();
    VirtualHidBus ListBus;  // the list's own bus, left empty
    TSDList List{ListBus};
    std::unique_ptr<TSD> Box;
};

// The conversion alone: mirror, shift, optional grey, stream and the 20 reports.
void BM_EncodeKey(benchmark::State& state) {
    const bool grey = state.range(0) != 0;
    const Bitmap24 image = Picture();
    SDImageEncoder encoder;
    for (auto _ : state) {
        encoder.Send(image, grey, 0, [](const std::uint8_t* data, std::uint32_t size) {
            benchmark::DoNotOptimize(data);
            benchmark::DoNotOptimize(size);
        });
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 20 * 1024);
}
BENCHMARK(BM_EncodeKey)->ArgName("grey")->Arg(0)->Arg(1);

// One key through the control box and the HID device object to the sink.
void BM_WriteImageButton(benchmark::State& state) {
    const bool grey = state.range(0) != 0;
    Rig rig;
    for (auto _ : state) rig.Box->WriteImageButton(0, &rig.Image, grey);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 20 * 1024);
}
BENCHMARK(BM_WriteImageButton)->ArgName("grey")->Arg(0)->Arg(1);

// All six keys, as an Active change or a refresh paints them.
void BM_RefreshImageButtons(benchmark::State& state) {
    Rig rig;
    rig.List.SetActive(state.range(0) == 0);
    for (auto _ : state) rig.Box->RefreshImageButtons();
    state.counters["per_key"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 6,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RefreshImageButtons)->ArgName("grey")->Arg(0)->Arg(1);

}  // namespace
