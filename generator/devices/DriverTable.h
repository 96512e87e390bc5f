// How a wave device reaches its driver: through a table of the driver functions it calls,
// bound once in the device's constructor. Each device header declares its table type with a
// static System() that returns the table of the real winmm functions; tests install a table
// of their own (a scripted virtual driver) for the scope of a test with TScopedDriver before
// they create the device.
//
//     struct TWaveOutDriver { decltype(&waveOutOpen) Open; ...; static const TWaveOutDriver&
//     System(); }; TMMWaveOut::TMMWaveOut(...) : driver_(TDriverBinding<TWaveOutDriver>::Bound())
//     {} TScopedDriver<TWaveOutDriver> useVirtual(virtualTable);   // in a test
#pragma once

template <class Table> class TDriverBinding {
public:
    // The table a device constructed now binds: the installed one, else the system's.
    static const Table& Bound() { return installed_ ? *installed_ : Table::System(); }
    static void Install(const Table* table) { installed_ = table; }
    static const Table* Installed() { return installed_; }

private:
    // Touched only on the main thread, where devices are constructed.
    static inline const Table* installed_ = nullptr;
};

// Installs `table` for the lifetime of the object and restores the previous one afterwards.
template <class Table> class TScopedDriver {
public:
    explicit TScopedDriver(const Table& table) : previous_(TDriverBinding<Table>::Installed()) {
        TDriverBinding<Table>::Install(&table);
    }
    ~TScopedDriver() { TDriverBinding<Table>::Install(previous_); }
    TScopedDriver(const TScopedDriver&) = delete;
    TScopedDriver& operator=(const TScopedDriver&) = delete;

private:
    const Table* previous_;
};
