#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// What one simulated amplifier holds and reports: identity, the six settings bytes, mutes, lock
// and channel states. Texts are the raw bytes of their five-character status fields.
struct TAmpState {
    QByteArray Model = "KV-30";
    QByteArray SerialNumber = "10001";
    QByteArray MainVersion = "3.10";
    QByteArray WebserverVersion = "1.07";
    QByteArray PsuVersion = "2.02";
    QByteArray DdsVersion = "1.15";
    QByteArray ImpedanceA = "8.00";
    QByteArray ImpedanceB = "8.00";
    QByteArray DeviceName = "AMP  ";
    QByteArray GroupName = "     ";

    // Volume A, volume B, sensitivity A, sensitivity B (level codes), limiter A, limiter B (volts),
    // in the order of the settings command. A fresh amplifier sits at -20 dB, 0 dB sensitivity.
    std::array<std::uint8_t, 6> Settings{{151, 151, 191, 191, 100, 100}};

    bool MuteA = false;
    bool MuteB = false;
    // While locked the amplifier ignores the settings command.
    bool Locked = false;
    // false puts the channel in FAULT: its state byte reads 0 and it delivers no output.
    bool ChannelOkA = true;
    bool ChannelOkB = true;
};

// Faults a test can inject into one amplifier's answers. The amplifier still acts on every
// request it reads completely; these only change what goes back on the wire.
struct TAmpFaults {
    enum class EFraming { ContentLength, Chunked, NoLength };

    // Wait this long after the request before the first byte of the answer.
    int AnswerDelayMs = 0;
    // Close the connection without sending anything.
    bool DropConnection = false;
    // Read the request, then keep the connection open and never answer.
    bool NeverAnswer = false;
    // Answer with bytes that are not HTTP, then close.
    bool Garbage = false;
    // How the body's end is marked.
    EFraming Framing = EFraming::ContentLength;
    // When >= 0, the status block is cut or zero-padded to this many bytes.
    int StatusBodySize = -1;
    // Replace the body by one larger than any client should hold (over 1 MiB).
    bool OversizeBody = false;
    // Send this many "HTTP/1.0 100 Continue" interim answers before the real one.
    int ContinueLines = 0;
    // When > 0, send the answer one byte per interval.
    int TrickleIntervalMs = 0;
    // Send the head and half the body, then reset the connection.
    bool ResetMidBody = false;
    // Apply the faults above only to status requests; commands are answered normally.
    bool StatusOnly = false;
};
