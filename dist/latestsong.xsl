<?xml version="1.0" encoding="UTF-8"?>
<!-- Turns a latest-song document into the one line the strip shows. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="no"/>

  <xsl:template match="/">
    <xsl:apply-templates select="latestsong[1]"/>
  </xsl:template>

  <xsl:template match="latestsong">
    <span class="song">
      <span class="note">&#x266A;</span>
      <xsl:text> </xsl:text>
      <span class="title"><xsl:value-of select="title"/></span>
      <span class="sep"> / </span>
      <span class="artist"><xsl:value-of select="artist"/></span>
    </span>
  </xsl:template>
</xsl:stylesheet>
