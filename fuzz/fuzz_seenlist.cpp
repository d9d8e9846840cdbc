// The seen-lists: any file loads; what is saved loads again as the same entries.
#include "FuzzSupport.h"
#include "monitor/TSeenList.h"

using namespace quelvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::Scratch() + "Consultados.dat";
    fuzz::WriteFile(path, fuzz::Text(data, size));
    TSeenList list;
    list.LoadFromFile(path);
    const auto entries = list.Entries();
    QUELVO_FUZZ_CHECK(entries.size() == list.Count());
    for (const auto& e : entries) {
        QUELVO_FUZZ_CHECK(list.Contains(e));
    }
    list.SaveToFile(path);
    TSeenList back;
    back.LoadFromFile(path);
    QUELVO_FUZZ_CHECK(back.Entries() == entries);
    return 0;
}
