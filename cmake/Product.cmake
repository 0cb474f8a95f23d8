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
