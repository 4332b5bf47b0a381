// Times ConvertToSFX on a large archive against "cat stub archive > out" in the same run.
//   sfx_bench [FOLDER] [MEGABYTES]   (defaults: a folder under /tmp, 1024)
// The archive holds stored 1 MiB entries; both copies read it from the page cache after a
// first warm-up pass. Prints each run and the median ratio.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchCommandLine.h"

#include <stdlib.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "zip/ZipArchiver.h"

namespace {

void Put16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, unsigned long v) {
    Put16(s, static_cast<unsigned>(v & 0xFFFF));
    Put16(s, static_cast<unsigned>((v >> 16) & 0xFFFF));
}

// Writes an archive of `count` stored entries of 1 MiB each.
bool WriteArchive(const std::string& path, int count) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 2654435761u) >> 13);
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(block.size()));
    std::string central;
    unsigned long offset = 0;
    for (int i = 0; i < count; ++i) {
        const std::string name = "data/part" + std::to_string(i) + ".bin";
        std::string local;
        Put32(local, 0x04034B50);
        Put16(local, 10);
        Put16(local, 0);
        Put16(local, 0);
        Put16(local, 0);
        Put16(local, 0x21);
        Put32(local, crc);
        Put32(local, block.size());
        Put32(local, block.size());
        Put16(local, static_cast<unsigned>(name.size()));
        Put16(local, 0);
        local += name;
        std::fwrite(local.data(), 1, local.size(), f);
        std::fwrite(block.data(), 1, block.size(), f);
        Put32(central, 0x02014B50);
        Put16(central, 0x031E);
        Put16(central, 10);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0x21);
        Put32(central, crc);
        Put32(central, block.size());
        Put32(central, block.size());
        Put16(central, static_cast<unsigned>(name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, offset);
        central += name;
        offset += local.size() + block.size();
    }
    std::string end;
    Put32(end, 0x06054B50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, static_cast<unsigned>(count));
    Put16(end, static_cast<unsigned>(count));
    Put32(end, central.size());
    Put32(end, offset);
    Put16(end, 0);
    std::fwrite(central.data(), 1, central.size(), f);
    std::fwrite(end.data(), 1, end.size(), f);
    return std::fclose(f) == 0;
}

double Seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const char* usage =
        "Usage: sfx_bench [FOLDER] [MEGABYTES]\n"
        "Times the self-extracting conversion of an archive of MEGABYTES MiB (default 1024)\n"
        "against cat, in FOLDER (default /tmp/tallomir-sfx-bench).\n";
    const bench::CommandLine line = bench::ParseCommandLine(argc, argv, usage, {}, 2);
    if (line.exitStatus >= 0) return line.exitStatus;
    std::string folder = line.words.size() > 0 ? line.words[0] : "/tmp/tallomir-sfx-bench";
    const int megabytes = line.words.size() > 1 ? std::atoi(line.words[1].c_str()) : 1024;
    if (megabytes <= 0) {
        std::fprintf(stderr, "sfx_bench: MEGABYTES must be a positive number\n%s", usage);
        return 2;
    }
    platform::ForceDirectories(folder);
    const std::string master = folder + "/master.zip";
    const std::string work = folder + "/work.zip";
    const std::string stub = folder + "/stub.bin";
    platform::WriteFile(stub, std::string(200000, 'S'));
    std::printf("writing a %d MiB archive...\n", megabytes);
    if (!WriteArchive(master, megabytes)) {
        std::fprintf(stderr, "cannot write %s\n", master.c_str());
        return 1;
    }
    // The program's own setting sends the source archive to the trash: keep that trash in
    // the bench folder, emptied outside the timing.
    const std::string dataHome = folder + "/xdg";
    platform::ForceDirectories(dataHome);
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    for (zip::DeleteOpts mode : {zip::htdAllowUndo, zip::htdFinal}) {
        std::printf("source archive deleted %s:\n",
                    mode == zip::htdAllowUndo ? "to the trash (the program's setting)" : "outright");
        std::vector<double> ours, cats;
        for (int run = 0; run < 4; ++run) {
            platform::CopyFile(master, work);
            zip::TZipArchiver zip;
            zip.Unattended = true;
            zip.HowToDelete = mode;
            zip.SFXPath = stub;
            zip.SetZipFilename(work);
            ::sync();  // both timings start with no write-back pending
            auto start = std::chrono::steady_clock::now();
            const int result = zip.ConvertToSFX();
            const double t = Seconds(start);
            if (result != 0) {
                std::fprintf(stderr, "ConvertToSFX failed: %d\n", result);
                return 1;
            }
            platform::DeleteFile(folder + "/work.exe");
            std::system(("rm -rf '" + dataHome + "/Trash'").c_str());

            ::sync();
            start = std::chrono::steady_clock::now();
            const std::string command = "cat '" + stub + "' '" + master + "' > '" + folder + "/cat.exe'";
            if (std::system(command.c_str()) != 0) return 1;
            const double c = Seconds(start);
            platform::DeleteFile(folder + "/cat.exe");
            if (run == 0) {
                std::printf("warm-up: ConvertToSFX %.3f s, cat %.3f s\n", t, c);
                continue;
            }
            ours.push_back(t);
            cats.push_back(c);
            std::printf("run %d: ConvertToSFX %.3f s, cat %.3f s, ratio %.2f\n", run, t, c, t / c);
        }
        std::printf("median: ConvertToSFX %.3f s, cat %.3f s, ratio %.2f (goal: within 1.5)\n", Median(ours),
                    Median(cats), Median(ours) / Median(cats));
    }
    platform::DeleteFile(master);
    platform::DeleteFile(stub);
    return 0;
}
