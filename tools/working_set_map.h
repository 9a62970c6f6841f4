#pragma once
// Where a process's working set lies: the resident pages of each loaded module, of private
// memory (heaps, stacks) and of mapped files, largest first. Pages are found by walking the
// address space and asking which pages are resident (QueryWorkingSetEx, which Wine answers;
// its QueryWorkingSet does not).
#include <windows.h>
#include <psapi.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

inline void print_working_set_map(const char* label) {
    struct Share {
        std::string name;
        size_t pages;
    };
    std::vector<Share> shares;
    auto add = [&shares](const std::string& name, size_t pages) {
        for (Share& s : shares)
            if (s.name == name) {
                s.pages += pages;
                return;
            }
        shares.push_back({name, pages});
    };
    std::vector<PSAPI_WORKING_SET_EX_INFORMATION> info(4096);
    MEMORY_BASIC_INFORMATION region;
    for (char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = (char*)region.BaseAddress + region.RegionSize) {
        if ((char*)region.BaseAddress + region.RegionSize <= at) break;
        if (region.State != MEM_COMMIT) continue;
        size_t resident = 0, pages = region.RegionSize / 4096;
        for (size_t first = 0; first < pages; first += info.size()) {
            size_t n = std::min(info.size(), pages - first);
            for (size_t i = 0; i < n; i++) info[i].VirtualAddress = (char*)region.BaseAddress + (first + i) * 4096;
            if (!QueryWorkingSetEx(GetCurrentProcess(), info.data(), (DWORD)(n * sizeof info[0]))) continue;
            for (size_t i = 0; i < n; i++) resident += info[i].VirtualAttributes.Valid;
        }
        if (!resident) continue;
        char name[MAX_PATH] = "";
        if (region.Type == MEM_IMAGE && GetModuleBaseNameA(GetCurrentProcess(), (HMODULE)region.AllocationBase, name, MAX_PATH))
            add(name, resident);
        else
            add(region.Type == MEM_MAPPED ? "(mapped files)" : region.Type == MEM_IMAGE ? "(other images)" : "(private: heaps, stacks)",
                resident);
    }
    std::sort(shares.begin(), shares.end(), [](const Share& a, const Share& b) { return a.pages > b.pages; });
    size_t total = 0;
    for (const Share& s : shares) total += s.pages;
    printf("%s resident %.1f MB:", label, total * 4.0 / 1024);
    for (size_t i = 0; i < shares.size() && i < 16; i++) printf(" %s %.0f KB;", shares[i].name.c_str(), shares[i].pages * 4.0);
    printf("\n");
    // What the heaps hold in blocks in use, against what the private memory holds at all.
    HANDLE heaps[64];
    DWORD heap_count = GetProcessHeaps(64, heaps);
    size_t busy = 0, blocks = 0;
    for (DWORD h = 0; h < heap_count && h < 64; h++) {
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = nullptr;
        if (!HeapLock(heaps[h])) continue;
        while (HeapWalk(heaps[h], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                busy += entry.cbData;
                blocks++;
            }
        HeapUnlock(heaps[h]);
    }
    printf("%s heaps %lu, %.1f MB in %zu blocks in use\n", label, heap_count, busy / 1048576.0, blocks);
}
