#include "playback/PlayRun.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "devices/Interface.h"
#include "document/Translate.h"

namespace ondrevo {

TPlayRun::TPlayRun(std::shared_ptr<IDevice> device, TEvents events)
    : device_(std::move(device)),
      player_(std::dynamic_pointer_cast<IWaveformPlayer>(device_)),
      events_(std::move(events)) {
  if (!player_) throw std::invalid_argument("TPlayRun: the device plays no waveforms");
  Bind();
}

TPlayRun::~TPlayRun() {
  try {
    Release();
  } catch (...) {
  }
  Unbind();
}

void TPlayRun::Bind() {
  player_->SetOnUploadProgress([this](IDevice* s, int32_t percent) {
    if (Current(s) && events_.UploadProgress) events_.UploadProgress(percent);
  });
  player_->SetOnUploadDone([this](IDevice* s) {
    if (!Current(s)) return;
    uploadDone_ = true;
    if (events_.UploadDone) events_.UploadDone();
  });
  player_->SetOnPlay([this](IDevice* s) {
    if (Current(s) && events_.Playing) events_.Playing();
  });
  player_->SetOnPlayProgress([this](IDevice* s, int32_t percent) {
    if (Current(s) && events_.PlayProgress) events_.PlayProgress(percent);
  });
  player_->SetOnBurst([this](IDevice* s, int32_t burst) {
    if (Current(s) && events_.Burst) events_.Burst(burst);
  });
  player_->SetOnStop([this](IDevice* s) {
    if (!Current(s)) return;
    ended_ = true;
    if (events_.Ended) events_.Ended();
  });
  player_->SetOnError([this](IDevice* s, const std::exception& e) {
    if (s && !Current(s)) return;
    if (!error_)
      error_ = s ? _("Error on") + std::string(" ") + s->GetModel() + ": " + e.what() : e.what();
    if (events_.Error) events_.Error(s, e);
  });
  player_->SetOnDisconnect([this](IDevice* s) {
    if (!Current(s)) return;
    connected_ = false;
    released_ = true;
    if (events_.Released) events_.Released();
  });
  if (auto trigger = std::dynamic_pointer_cast<ITriggerablePlayer>(device_))
    trigger->SetOnTrigger([this](IDevice* s) {
      if (!Current(s)) return;
      ended_ = false;
      if (events_.Triggered) events_.Triggered();
    });
}

void TPlayRun::Unbind() {
  player_->SetOnUploadProgress(nullptr);
  player_->SetOnUploadDone(nullptr);
  player_->SetOnPlay(nullptr);
  player_->SetOnPlayProgress(nullptr);
  player_->SetOnBurst(nullptr);
  player_->SetOnStop(nullptr);
  player_->SetOnError(nullptr);
  player_->SetOnDisconnect(nullptr);
  if (auto trigger = std::dynamic_pointer_cast<ITriggerablePlayer>(device_))
    trigger->SetOnTrigger(nullptr);
}

void TPlayRun::SelectChannel(int channel) {
  auto output = std::dynamic_pointer_cast<IAnalogOutput>(device_);
  if (!output) return;
  auto& inputs = output->GetConnectedInputs();
  if (channel >= 0 && channel < static_cast<int>(inputs.size()))
    inputs[static_cast<size_t>(channel)] = std::make_shared<TDummyDevice>();
}

void TPlayRun::Connect() {
  released_ = false;
  releasing_ = false;
  try {
    player_->Connect();
  } catch (...) {
    // What the connect got done is undone: the port closed, the instrument local again.
    try {
      player_->Disconnect();
    } catch (...) {
    }
    released_ = true;
    throw;
  }
  connected_ = true;
}

void TPlayRun::Upload(std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
                      bool enableOutput) {
  uploadDone_ = false;
  player_->Upload(std::move(voltage), std::move(current), enableOutput);
}

void TPlayRun::CancelUpload() {
  player_->CancelUpload();
}

void TPlayRun::Start(int32_t burst, const TRunTrigger& trigger) {
  player_->SetBurstCount(burst);
  auto triggerable = std::dynamic_pointer_cast<ITriggerablePlayer>(device_);
  externalTrigger_ = false;
  if (triggerable && triggerable->IsExternalTriggerAvailable()) {
    externalTrigger_ = trigger.External;
    triggerable->SetTriggerChannel(trigger.Channel);
    if (trigger.FallingEdge) triggerable->SetTriggerOnFallingEdge(*trigger.FallingEdge);
    triggerable->SetExternalTrigger(trigger.External);
  }
  Resume();
}

void TPlayRun::Resume() {
  started_ = true;
  ended_ = false;
  stopSent_ = false;
  player_->Play();
  if (auto output = std::dynamic_pointer_cast<IAnalogOutput>(device_))
    output->SetOutputEnabled(true, 0);
}

bool TPlayRun::Stop(bool again) {
  if (stopSent_ && !again) return false;
  stopSent_ = true;
  player_->Stop();
  return true;
}

void TPlayRun::Release(bool stopFirst) {
  if (released_ || releasing_) return;
  releasing_ = true;
  if (stopFirst && started_ && (!ended_ || externalTrigger_)) {
    try {
      // Again when an earlier stop went unconfirmed: the release is the last word.
      stopSent_ = true;
      player_->Stop();
    } catch (const std::exception& e) {
      // The release goes on: local control is what the user still has.
      if (!error_) error_ = e.what();
    }
  }
  // Its own record counts too: a device may not know it is half connected.
  if (!connected_ && !player_->IsConnected()) {
    released_ = true;
    return;
  }
  player_->Disconnect();
}

bool TPlayRun::StopAndWait(const TPump& pump, std::chrono::milliseconds timeout) {
  if (!Stop()) return ended_;
  return pump([this] { return ended_ || released_; }, timeout) && ended_;
}

bool TPlayRun::ReleaseAndWait(const TPump& pump, std::chrono::milliseconds timeout) {
  Release();
  return released_ || pump([this] { return released_; }, timeout);
}

bool TPlayRun::LastRelease(std::chrono::milliseconds timeout) const {
  const std::shared_ptr<TInterface> transport = player_->GetInterface();
  // A card's task ends with the program; only an instrument on a bus outlives it.
  if (!transport) return true;
  struct TState {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool sent = true;
  };
  auto state = std::make_shared<TState>();
  std::thread([state, player = player_, transport] {
    bool sent = true;
    try {
      player->Stop();
    } catch (...) {
      sent = false;
    }
    try {
      transport->SetLocal();
    } catch (...) {
      sent = false;
    }
    std::lock_guard guard(state->lock);
    state->finished = true;
    state->sent = sent;
    state->done.notify_all();
  }).detach();
  std::unique_lock guard(state->lock);
  return state->done.wait_for(guard, timeout, [&] { return state->finished; }) && state->sent;
}

}  // namespace ondrevo
