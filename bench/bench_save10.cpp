// Format 10 writing time of one welded mesh of 1,000,000 vertices (position
// 4, normal 3, texture coordinates 2 floats; two triangles per grid cell):
// RootNode::save, the writer and the file, against writing as many bytes to
// the same folder in one call, with and without fsync. A save flushes its
// file to disk before it replaces the old one, so the durable plain write is
// the yardstick the limit applies to; the ratio against the bare write is
// printed too. The vertex passes before the writer are measured by
// bench_weld.py and bench_parallel.py, the whole Model.save by bench_save.py.
// Exits with 1 when the durable ratio is above 4.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ClassRegistry.h"
#include "PropertiesSet.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"

using namespace model;
using bench::make;

namespace {

constexpr int kSide = 1000;
constexpr int kRuns = 5;
constexpr double kLimit = 4.0;

Ptr<RootNode> gridModel() {
    auto root = make<RootNode>("model::RootNode");
    auto top = make<Node>("model::Node");
    top->setName("root");
    root->setTopNode(top);

    std::vector<float> positions, normals, coordinates;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            positions.insert(positions.end(), {x * 0.01f, y * 0.01f, 0.0f, 0.0f});
            normals.insert(normals.end(), {0.0f, 0.0f, 1.0f});
            coordinates.insert(coordinates.end(), {float(x) / kSide, float(y) / kSide});
        }
    Vertices vertices;
    vertices.setAttribute(POSITION0, 4, positions);
    vertices.setAttribute(NORMAL0, 3, normals);
    vertices.setAttribute(TEXCOORD0, 2, coordinates);
    Indices indices;
    for (int y = 0; y + 1 < kSide; ++y)
        for (int x = 0; x + 1 < kSide; ++x) {
            const std::uint32_t a = y * kSide + x;
            indices.indices.insert(indices.indices.end(), {a, a + 1, a + kSide + 1, a, a + kSide + 1, a + kSide});
        }

    auto mesh = make<RenderNode>("model::RenderNode");
    mesh->setName("grid");
    mesh->setMaterial(Ptr<PropertiesSet>(new PropertiesSet()));
    mesh->replaceGeometry(std::move(vertices), std::move(indices));
    mesh->setParent(0, top);
    root->addRenderNode(mesh);
    return root;
}

double seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double plainWrite(const std::string& path, const std::vector<char>& bytes, bool durable) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        (durable && ::fsync(fd) != 0) || ::close(fd) != 0) {
        std::perror(path.c_str());
        std::exit(2);
    }
    return seconds(start);
}

}  // namespace

int main() {
    char folderTemplate[] = "/tmp/bench_save10.XXXXXX";
    const char* folderName = ::mkdtemp(folderTemplate);
    if (!folderName) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string folder = folderName;
    const std::string target = folder + "/grid.tav";
    const std::string plain = folder + "/plain.bin";

    const Ptr<RootNode> root = gridModel();
    double save = 1e300, bare = 1e300, durable = 1e300;
    long size = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        root->save(target, 10);
        save = std::min(save, seconds(start));
        if (run == 0) {
            FILE* f = std::fopen(target.c_str(), "rb");
            std::fseek(f, 0, SEEK_END);
            size = std::ftell(f);
            std::fclose(f);
        }
        const std::vector<char> bytes(static_cast<size_t>(size), 1);
        bare = std::min(bare, plainWrite(plain, bytes, false));
        durable = std::min(durable, plainWrite(plain, bytes, true));
    }
    ::unlink(target.c_str());
    ::unlink(plain.c_str());
    ::rmdir(folder.c_str());

    const double ratio = save / durable;
    std::printf("save10: %d vertices, %ld bytes: save %.3f s, write %.3f s, write+fsync %.3f s\n", kSide * kSide, size,
                save, bare, durable);
    std::printf("ratio save / (write+fsync): %.2f (limit %g); save / write: %.2f\n", ratio, kLimit, save / bare);
    return ratio <= kLimit ? 0 : 1;
}
