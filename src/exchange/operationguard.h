// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One request-making operation at a time. Every operation that talks to the blocks waits in
// the event loop, so the engineer can start another one in the middle of it; the two would
// share the request channel's last request, reply flag and reply data and corrupt each other.
// Each operation therefore holds the guard while it runs, and a second one is refused: it sends
// nothing, and the refusal is announced for the status bar.

#include <QObject>
#include <QString>
#include <utility>

class OperationGuard : public QObject
{
    Q_OBJECT
public:
    // Held by a running operation; releases the guard when it goes.
    class Scope
    {
    public:
        Scope() = default;
        Scope(Scope&& other) noexcept : guard_(std::exchange(other.guard_, nullptr)) {}
        Scope& operator=(Scope&&) = delete;
        ~Scope();
        explicit operator bool() const { return guard_ != nullptr; }

    private:
        friend class OperationGuard;
        explicit Scope(OperationGuard* guard) : guard_(guard) {}
        OperationGuard* guard_ = nullptr;
    };

    using QObject::QObject;

    // Starts the operation named in the words of the status bar ("поиск блоков"); an empty
    // scope, and `refused` announced, while another operation runs.
    [[nodiscard]] Scope Begin(const QString& name);
    bool Busy() const { return busy_; }
    const QString& Current() const { return current_; }

    // The status bar's words for a refused operation.
    static QString RefusalText(const QString& running);

signals:
    void refused(const QString& message);
    void busyChanged(bool busy);

private:
    void End();
    bool busy_ = false;
    QString current_;
};
