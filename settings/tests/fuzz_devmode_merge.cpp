// Arbitrary bytes as the application's record of a merge. When the input is
// long enough, a first byte with bit 0 set makes it look valid so that the
// private copy is reached too.
#include <cstdint>
#include <cstring>
#include <vector>

#include "model_fixture.h"
#include "settings/devmode_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zq::testing::TestModel model;
    static const zq::PrivateDevmode base = model.Default();
    std::vector<uint8_t> app(data, data + size);
    if (size >= zq::kPrivateDevmodeSize && (data[0] & 1)) {
        zq::PrivateDevmode r;
        std::memcpy(&r, app.data(), sizeof r);
        r.dm.dmSpecVersion = DM_SPECVERSION;
        r.dm.dmSize = zq::kPublicDevmodeSize;
        r.dm.dmDriverExtra = zq::kDriverExtraSize;
        r.privateVersion = zq::kPrivateDevmodeVersion;
        r.signature1 = r.signature2 = r.signature3 = zq::kPrivateDevmodeSignature;
        if (data[0] & 2) {
            zq::SetDevmodeCrc(r);
        }
        std::memcpy(app.data(), &r, sizeof r);
    }
    zq::PrivateDevmode out;
    zq::MergeEnvironment env;
    env.acceptForm = [](int code) { return code % 2 == 0; };
    zq::ValidateDevmodeForModel(out, app, base, model.data, env);
    // Whatever came in, the texts of the result are terminated.
    if (out.overlayName1[63] != 0 || out.userName[40] != 0 || out.pin849[4] != 0) {
        __builtin_trap();
    }
    (void)zq::DevmodesEqual(out, base);
    return 0;
}
