#pragma once

#include <QWidget>

#include "IPCProtocol.h"

namespace orvex {

// The home panel's emblem: a round dial whose ring and glow show the tunnel's state, over the
// dark-violet gradient of the connect area.
class ConnectDial : public QWidget {
    Q_OBJECT
public:
    explicit ConnectDial(QWidget* parent = nullptr);
    void setState(TunnelState state, bool held);
    QSize sizeHint() const override { return {168, 168}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TunnelState state_ = TunnelState::disconnected;
    bool held_ = false;
};

} // namespace orvex
