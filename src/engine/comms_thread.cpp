#include "engine/comms_thread.h"

#include "engine/update_workflow.h"

namespace firmora::engine {

TCommsThread::TCommsThread(WorkerServices services, WorkerSettings settings)
    : services_(services), settings_(std::move(settings)), reporter_(services_.view, settings_.slot) {}

TCommsThread::~TCommsThread() {
    Stop();
    WaitFor();
}

void TCommsThread::SetOnTerminate(std::function<void()> handler) { onTerminate_ = std::move(handler); }

void TCommsThread::Resume() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] { Execute(); });
}

void TCommsThread::Execute() {
    passed_.store(RunUpdateWorkflow(services_, settings_, reporter_, backupFolder_));
    if (onTerminate_) onTerminate_();
}

void TCommsThread::Stop() { reporter_.Stop(); }

void TCommsThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace firmora::engine
