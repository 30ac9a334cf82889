#pragma once

#include <QApplication>

class Kernel;

// The application object; it only knows the Kernel it runs.
class IptvApplication : public QApplication
{
    Q_OBJECT
public:
    IptvApplication(int &argc, char **argv);

    Kernel *kernel() const { return m_kernel; }
    void setKernel(Kernel *kernel) { m_kernel = kernel; }

private:
    Kernel *m_kernel = nullptr; // not owned
};
