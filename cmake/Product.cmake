# The product's names and version live here and nowhere else; code reads
# them from the generated header vek/product.h.
set(VEK_APP_NAME "Vek Print Agent")
set(VEK_ORG_NAME "Vekworks")
set(VEK_APP_VERSION "1.0.38")
set(VEK_EXECUTABLE_NAME "VekPrintAgent")

# The hosted clinic service's domain (its sub-domains are accepted too) and
# the mesh VPN's name suffix for machines of a clinic's private network.
set(VEK_CLOUD_DOMAIN "vekcloud.example" CACHE STRING "Host name of the hosted clinic service")
set(VEK_MESH_SUFFIX ".ts.net" CACHE STRING "Name suffix of hosts on the clinic's mesh network")

# Texts that name the operating system ("sent to Windows") say what a user of
# the system the agent is built for expects.
set(VEK_WINDOWS_BUILD ${WIN32})

# Self-update: the maker's update domain (its sub-domains are trusted for the
# manifest and the installer), the host that serves the manifest, and the
# SHA-1 thumbprint of the code-signing root that every installer must chain to.
set(VEK_UPDATE_DOMAIN "vekworks.example" CACHE STRING "Domain trusted for update manifests and installers")
set(VEK_DOWNLOAD_HOST "downloads.vekworks.example" CACHE STRING "Host that serves the update manifest")
set(VEK_UPDATE_ROOT_SHA1 "3F6A2B0C9D8E7F1029384756AFBECD0123456789" CACHE STRING
    "SHA-1 thumbprint of the code-signing root certificate (40 hexadecimal digits)")
if(NOT VEK_UPDATE_ROOT_SHA1 MATCHES "^[0-9A-Fa-f]+$")
    message(FATAL_ERROR "VEK_UPDATE_ROOT_SHA1 must be 40 hexadecimal digits")
endif()
string(LENGTH "${VEK_UPDATE_ROOT_SHA1}" _vek_pin_length)
if(NOT _vek_pin_length EQUAL 40)
    message(FATAL_ERROR "VEK_UPDATE_ROOT_SHA1 must be 40 hexadecimal digits")
endif()
string(TOUPPER "${VEK_UPDATE_ROOT_SHA1}" VEK_UPDATE_ROOT_SHA1)
if(NOT VEK_DOWNLOAD_HOST STREQUAL VEK_UPDATE_DOMAIN AND NOT VEK_DOWNLOAD_HOST MATCHES "\\.${VEK_UPDATE_DOMAIN}$")
    message(FATAL_ERROR "VEK_DOWNLOAD_HOST must lie inside VEK_UPDATE_DOMAIN")
endif()
