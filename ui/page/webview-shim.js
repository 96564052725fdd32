// page channel
