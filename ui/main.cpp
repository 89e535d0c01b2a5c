#include "CMainApp.h"

int main(int argc, char** argv) {
    CMainApp app(argc, argv);
    return app.InitInstance();
}
