# The platform layer's sources, in one list for both consumers: this
# project's vek_platform and the cross-built Windows test project
# (windows/CMakeLists.txt). Paths are relative to this folder.
#
# VEK_PLATFORM_SHARED_SOURCES    system-free code that both backends use
# VEK_PLATFORM_WINDOWS_SOURCES   pure Win32 and the C++ standard library
# VEK_PLATFORM_LINUX_SOURCES     CUPS, OpenSSL, QtKeychain, sysfs/procfs; may use
#                                Qt Core and Qt D-Bus
set(VEK_PLATFORM_SHARED_SOURCES
    credentialseal.h
    crashdumpnames.cpp
    crashdumpnames.h
    crashhandler.h
    detachedstart.h
    discwriters.h
    driversettings.h
    durablefile.h
    installersignature.h
    installertable.h
    installerverdict.cpp
    localpeer.h
    machineguid.h
    pageoutput.h
    pefile.cpp
    pefile.h
    printers.h
    printjobtext.cpp
    printjobtext.h
    rawspool.h
    secretstore.h
    sha256stream.h
    startatsignin.h
)
set(VEK_PLATFORM_WINDOWS_SOURCES
    windows/comsupport.h
    windows/crashdump.h
    windows/crashhandler.cpp
    windows/credentialseal.cpp
    windows/detachedstart.cpp
    windows/devcontext.cpp
    windows/devcontext.h
    windows/devmode.cpp
    windows/devmode.h
    windows/discwriters.cpp
    windows/driversettings.cpp
    windows/durablefile.cpp
    windows/imapi2.h
    windows/installersignature.cpp
    windows/localmemory.h
    windows/localpeer.cpp
    windows/machineguid.cpp
    windows/pageoutput.cpp
    windows/printerhandle.h
    windows/printers.cpp
    windows/rawdocument.cpp
    windows/rawdocument.h
    windows/rawspool.cpp
    windows/secretstore.cpp
    windows/sha256stream.cpp
    windows/startatsignin.cpp
    windows/winerror.cpp
    windows/winerror.h
    windows/wintext.cpp
    windows/wintext.h
)
set(VEK_PLATFORM_LINUX_SOURCES
    linux/crashhandler.cpp
    linux/credentialseal.cpp
    linux/cupsobjects.h
    linux/desktopentry.cpp
    linux/desktopentry.h
    linux/detachedstart.cpp
    linux/discwriters.cpp
    linux/driveroptions.cpp
    linux/driveroptions.h
    linux/driversettings.cpp
    linux/durablefile.cpp
    linux/installersignature.cpp
    linux/localpeer.cpp
    linux/machineguid.cpp
    linux/pageoutput.cpp
    linux/printers.cpp
    linux/printerstate.cpp
    linux/printerstate.h
    linux/queuecapabilities.cpp
    linux/queuecapabilities.h
    linux/queueppd.cpp
    linux/pwgencoder.cpp
    linux/pwgencoder.h
    linux/queueppd.h
    linux/rasterwriter.cpp
    linux/rasterwriter.h
    linux/rawspool.cpp
    linux/rowscaler.cpp
    linux/rowscaler.h
    linux/secretservice.h
    linux/secretstore.cpp
    linux/settingsblock.cpp
    linux/settingsblock.h
    linux/sha256stream.cpp
    linux/startatsignin.cpp
    linux/systemroot.cpp
    linux/systemroot.h
)

# Prefixes each listed path with dir.
function(vek_platform_sources out dir)
    set(result)
    foreach(path IN LISTS ARGN)
        list(APPEND result "${dir}/${path}")
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()
