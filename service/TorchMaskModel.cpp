// The plug-in that runs a separation network with LibTorch: with its allocator, the only sources that
// include its headers.
#include "MaskModel.h"
#include "PlannedAllocator.h"

#include <ATen/Parallel.h>
#include <torch/script.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// LibTorch reports a failed allocation as its own error, worded so.
bool isOutOfMemory(const std::exception &failure)
{
    return std::strstr(failure.what(), "can't allocate memory") || std::strstr(failure.what(), "bad_alloc")
        || std::strstr(failure.what(), "Cannot allocate memory");
}

// The first line of a LibTorch error: the rest is its C++ stack.
std::string firstLine(const char *text)
{
    const std::string whole(text);
    return whole.substr(0, whole.find('\n'));
}

class TorchMaskModel final : public MaskModel
{
public:
    explicit TorchMaskModel(torch::jit::Module network)
        : network(std::move(network))
    { }

    Status masks(const float *magnitudes, int frames, int source, float *out, std::string &error) override
    {
        // Outlives every tensor of the pass, the answer included.
        PlannedAllocator::Pass pass(frames);
        try {
            const torch::NoGradGuard noGradients;
            // The input is read in place; only the answer is allocated.
            const torch::Tensor input
                = torch::from_blob(const_cast<float *>(magnitudes), { 1, 2, bins, frames });
            const torch::Tensor answer = network.forward({ input }).toTensor();
            if (answer.dim() != 5 || answer.size(0) != 1 || answer.size(1) != sources || answer.size(2) != 2
                || answer.size(3) != bins || answer.size(4) != frames
                || answer.scalar_type() != torch::kFloat32) {
                error = "the model answers a tensor of another shape than (1, 6, 2, 1024, frames)";
                return Status::Failed;
            }
            const torch::Tensor mask = answer.select(1, source).contiguous();
            std::memcpy(out, mask.data_ptr<float>(), sizeof(float) * 2 * bins * static_cast<size_t>(frames));
            pass.complete();
            return Status::Ok;
        } catch (const std::bad_alloc &) {
            error = "out of memory";
            return Status::OutOfMemory;
        } catch (const std::exception &failure) {
            error = firstLine(failure.what());
            return isOutOfMemory(failure) ? Status::OutOfMemory : Status::Failed;
        }
    }

private:
    torch::jit::Module network;
};

void copyReason(const std::string &reason, char *error, int errorSize)
{
    if (errorSize <= 0)
        return;
    const size_t length = std::min(reason.size(), static_cast<size_t>(errorSize - 1));
    std::memcpy(error, reason.data(), length);
    error[length] = '\0';
}

} // namespace

extern "C" __attribute__((visibility("default"))) MaskModel *zelkLoadMaskModel(
    const char *path, char *error, int errorSize, int *outOfMemory)
{
    *outOfMemory = 0;
    try {
        // One job, one thread: the service runs two jobs at once and the machine has other work. The
        // inter-op pool can be sized once per process only.
        static std::once_flag threadsSet;
        std::call_once(threadsSet, [] {
            at::set_num_threads(1);
            at::set_num_interop_threads(1);
            PlannedAllocator::instance();
        });
        torch::jit::Module network = torch::jit::load(path, torch::kCPU);
        network.eval();
        auto model = std::make_unique<TorchMaskModel>(std::move(network));
        // A file that loads but answers something else is found out here, before any song depends on it.
        const int frames = 64;
        std::vector<float> silence(static_cast<size_t>(2 * MaskModel::bins * frames), 0.0f);
        std::vector<float> masks(silence.size());
        std::string reason;
        const MaskModel::Status status = model->masks(silence.data(), frames, 0, masks.data(), reason);
        if (status != MaskModel::Status::Ok) {
            *outOfMemory = status == MaskModel::Status::OutOfMemory;
            copyReason(path + std::string(": ") + reason, error, errorSize);
            return nullptr;
        }
        return model.release();
    } catch (const std::bad_alloc &) {
        *outOfMemory = 1;
        copyReason("out of memory while loading the model", error, errorSize);
    } catch (const std::exception &failure) {
        *outOfMemory = isOutOfMemory(failure);
        copyReason(path + std::string(" does not load: ") + firstLine(failure.what()), error, errorSize);
    }
    return nullptr;
}
