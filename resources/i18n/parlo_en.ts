<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>texts</name>
    <message>
        <source>About Vorlane Messenger(&amp;A)...</source>
        <comment>101</comment>
        <translation>About Vorlane Messenger(&amp;A)...</translation>
    </message>
    <message>
        <source>Socket library initialisation failed.</source>
        <comment>103</comment>
        <translation>Socket library initialisation failed.</translation>
    </message>
    <message>
        <source>Open Messenger</source>
        <comment>148</comment>
        <translation>Open Messenger</translation>
    </message>
    <message>
        <source>Sign Out</source>
        <comment>149</comment>
        <translation>Sign Out</translation>
    </message>
    <message>
        <source>Sign In</source>
        <comment>150</comment>
        <translation>Sign In</translation>
    </message>
    <message>
        <source>Exit</source>
        <comment>151</comment>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Online</source>
        <comment>152</comment>
        <translation>Online</translation>
    </message>
    <message>
        <source>Offline</source>
        <comment>153</comment>
        <translation>Offline</translation>
    </message>
    <message>
        <source>Busy</source>
        <comment>154</comment>
        <translation>Busy</translation>
    </message>
    <message>
        <source>Away</source>
        <comment>155</comment>
        <translation>Away</translation>
    </message>
    <message>
        <source>Right Back</source>
        <comment>156</comment>
        <translation>Right Back</translation>
    </message>
    <message>
        <source>On Phone</source>
        <comment>157</comment>
        <translation>On Phone</translation>
    </message>
    <message>
        <source>Lunch</source>
        <comment>158</comment>
        <translation>Lunch</translation>
    </message>
    <message>
        <source>Appear Offline</source>
        <comment>159</comment>
        <translation>Appear Offline</translation>
    </message>
    <message>
        <source>My Status</source>
        <comment>160</comment>
        <translation>My Status</translation>
    </message>
    <message>
        <source>Add Group</source>
        <comment>161</comment>
        <translation>Add Group</translation>
    </message>
    <message>
        <source>Edit Group</source>
        <comment>162</comment>
        <translation>Edit Group</translation>
    </message>
    <message>
        <source>Delete Group</source>
        <comment>163</comment>
        <translation>Delete Group</translation>
    </message>
    <message>
        <source>Add Contact</source>
        <comment>164</comment>
        <translation>Add Contact</translation>
    </message>
    <message>
        <source>Edit Contact</source>
        <comment>165</comment>
        <translation>Edit Contact</translation>
    </message>
    <message>
        <source>Remove Contact</source>
        <comment>166</comment>
        <translation>Remove Contact</translation>
    </message>
    <message>
        <source>View Info</source>
        <comment>167</comment>
        <translation>View Info</translation>
    </message>
    <message>
        <source>Text Chat</source>
        <comment>168</comment>
        <translation>Text Chat</translation>
    </message>
    <message>
        <source>Audio Video</source>
        <comment>169</comment>
        <translation>Audio Video</translation>
    </message>
    <message>
        <source>Transfer File</source>
        <comment>170</comment>
        <translation>Transfer File</translation>
    </message>
    <message>
        <source>Offline Message</source>
        <comment>171</comment>
        <translation>Offline Message</translation>
    </message>
    <message>
        <source>Email should not be empty.</source>
        <comment>172</comment>
        <translation>Email should not be empty.</translation>
    </message>
    <message>
        <source>Email seems not correct.</source>
        <comment>173</comment>
        <translation>Email seems not correct.</translation>
    </message>
    <message>
        <source>The email address already exist in your contact list.</source>
        <comment>174</comment>
        <translation>The email address already exist in your contact list.</translation>
    </message>
    <message>
        <source>This contact already exists in your contact list.</source>
        <comment>175</comment>
        <translation>This contact already exists in your contact list.</translation>
    </message>
    <message>
        <source>Email could not be blank.</source>
        <comment>176</comment>
        <translation>Email could not be blank.</translation>
    </message>
    <message>
        <source>Email could not contain ':' charactor</source>
        <comment>177</comment>
        <translation>Email could not contain ':' charactor</translation>
    </message>
    <message>
        <source>Could not input more than 10000 charactors.</source>
        <comment>178</comment>
        <translation>Could not input more than 10000 charactors.</translation>
    </message>
    <message>
        <source>No contact selected when sending.</source>
        <comment>179</comment>
        <translation>No contact selected when sending.</translation>
    </message>
    <message>
        <source>failed to send offline message, did not find contact in contact list.</source>
        <comment>180</comment>
        <translation>failed to send offline message, did not find contact in contact list.</translation>
    </message>
    <message>
        <source>Email could not be empty.</source>
        <comment>181</comment>
        <translation>Email could not be empty.</translation>
    </message>
    <message>
        <source>Password could not be empty.</source>
        <comment>182</comment>
        <translation>Password could not be empty.</translation>
    </message>
    <message>
        <source>FirstName could not be empty.</source>
        <comment>183</comment>
        <translation>FirstName could not be empty.</translation>
    </message>
    <message>
        <source>LastName could not be empty.</source>
        <comment>184</comment>
        <translation>LastName could not be empty.</translation>
    </message>
    <message>
        <source>NickName could not be empty.</source>
        <comment>185</comment>
        <translation>NickName could not be empty.</translation>
    </message>
    <message>
        <source>Your Email seems not correct, please correct.</source>
        <comment>186</comment>
        <translation>Your Email seems not correct, please correct.</translation>
    </message>
    <message>
        <source>:, &lt;, &gt;, ', ", \ and space is not allowed in email, please correct.</source>
        <comment>187</comment>
        <translation>:, &lt;, &gt;, ', ", \ and space is not allowed in email, please correct.</translation>
    </message>
    <message>
        <source>Please choose between "discard message" or "save message".</source>
        <comment>188</comment>
        <translation>Please choose between "discard message" or "save message".</translation>
    </message>
    <message>
        <source>failed to open file to write, make sure you have privilege to do so.</source>
        <comment>189</comment>
        <translation>failed to open file to write, make sure you have privilege to do so.</translation>
    </message>
    <message>
        <source>Failed to connect to peer's server.</source>
        <comment>190</comment>
        <translation>Failed to connect to peer's server.</translation>
    </message>
    <message>
        <source>Login failed.</source>
        <comment>191</comment>
        <translation>Login failed.</translation>
    </message>
    <message>
        <source>Register Success.</source>
        <comment>192</comment>
        <translation>Register Success.</translation>
    </message>
    <message>
        <source>General error when register, please try again later.</source>
        <comment>193</comment>
        <translation>General error when register, please try again later.</translation>
    </message>
    <message>
        <source>Email already exist when register, please change your email and try again.</source>
        <comment>194</comment>
        <translation>Email already exist when register, please change your email and try again.</translation>
    </message>
    <message>
        <source>Contact Search Failed.</source>
        <comment>195</comment>
        <translation>Contact Search Failed.</translation>
    </message>
    <message>
        <source>Contact with email %s not found, please try again.</source>
        <comment>196</comment>
        <translation>Contact with email %s not found, please try again.</translation>
    </message>
    <message>
        <source>Contact is added to your list.</source>
        <comment>197</comment>
        <translation>Contact is added to your list.</translation>
    </message>
    <message>
        <source>Contact not added to your list.</source>
        <comment>198</comment>
        <translation>Contact not added to your list.</translation>
    </message>
    <message>
        <source>Contact removed.</source>
        <comment>199</comment>
        <translation>Contact removed.</translation>
    </message>
    <message>
        <source>Contact full.</source>
        <comment>200</comment>
        <translation>Contact full.</translation>
    </message>
    <message>
        <source>Failed to add contact, please try again later.</source>
        <comment>201</comment>
        <translation>Failed to add contact, please try again later.</translation>
    </message>
    <message>
        <source>The contact already exist in your contact list.</source>
        <comment>202</comment>
        <translation>The contact already exist in your contact list.</translation>
    </message>
    <message>
        <source>Group add failed, please try again later.</source>
        <comment>203</comment>
        <translation>Group add failed, please try again later.</translation>
    </message>
    <message>
        <source>Group remove failed, please try again later.</source>
        <comment>204</comment>
        <translation>Group remove failed, please try again later.</translation>
    </message>
    <message>
        <source>Group name update failed, please try again later.</source>
        <comment>205</comment>
        <translation>Group name update failed, please try again later.</translation>
    </message>
    <message>
        <source>You have offline message, do you want to read now?</source>
        <comment>206</comment>
        <translation>You have offline message, do you want to read now?</translation>
    </message>
    <message>
        <source>%s %s(%s) want to send you a file named %s, do you want accept?</source>
        <comment>207</comment>
        <translation>%s %s(%s) want to send you a file named %s, do you want accept?</translation>
    </message>
    <message>
        <source>sending file %s to %s %s(%s) now.</source>
        <comment>208</comment>
        <translation>sending file %s to %s %s(%s) now.</translation>
    </message>
    <message>
        <source>%s %s(%s) did not accept your file transfer.</source>
        <comment>209</comment>
        <translation>%s %s(%s) did not accept your file transfer.</translation>
    </message>
    <message>
        <source>File %s saved successfully from %s %s (%s).</source>
        <comment>210</comment>
        <translation>File %s saved successfully from %s %s (%s).</translation>
    </message>
    <message>
        <source>Failed to remove contact.</source>
        <comment>211</comment>
        <translation>Failed to remove contact.</translation>
    </message>
    <message>
        <source>%s(%s %s)(%s) added you as contact, do you want to add her(him) to your contact list?</source>
        <comment>212</comment>
        <translation>%s(%s %s)(%s) added you as contact, do you want to add her(him) to your contact list?</translation>
    </message>
    <message>
        <source>%s(%s %s)(%s) removed you from his(her) contact list, do you want to remove him(her) from your contact list?</source>
        <comment>213</comment>
        <translation>%s(%s %s)(%s) removed you from his(her) contact list, do you want to remove him(her) from your contact list?</translation>
    </message>
    <message>
        <source>Please login first before you add contact.</source>
        <comment>214</comment>
        <translation>Please login first before you add contact.</translation>
    </message>
    <message>
        <source>Are you sure to remove this contact from your list?</source>
        <comment>215</comment>
        <translation>Are you sure to remove this contact from your list?</translation>
    </message>
    <message>
        <source>could not delete default group.</source>
        <comment>216</comment>
        <translation>could not delete default group.</translation>
    </message>
    <message>
        <source>Could not edit dfault group.</source>
        <comment>217</comment>
        <translation>Could not edit dfault group.</translation>
    </message>
    <message>
        <source>Could not delete a none-empty group.</source>
        <comment>218</comment>
        <translation>Could not delete a none-empty group.</translation>
    </message>
    <message>
        <source>Are you sure to remove this group?</source>
        <comment>219</comment>
        <translation>Are you sure to remove this group?</translation>
    </message>
    <message>
        <source>connect to peer failed.</source>
        <comment>220</comment>
        <translation>connect to peer failed.</translation>
    </message>
    <message>
        <source>please select a contact.</source>
        <comment>221</comment>
        <translation>please select a contact.</translation>
    </message>
    <message>
        <source>Are you sure to tranfer file %s to %s?</source>
        <comment>222</comment>
        <translation>Are you sure to tranfer file %s to %s?</translation>
    </message>
    <message>
        <source>Please select a contact.</source>
        <comment>223</comment>
        <translation>Please select a contact.</translation>
    </message>
    <message>
        <source>You logged in at another location, this connection is disconnected.</source>
        <comment>224</comment>
        <translation>You logged in at another location, this connection is disconnected.</translation>
    </message>
    <message>
        <source>%s(%s) become online.</source>
        <comment>225</comment>
        <translation>%s(%s) become online.</translation>
    </message>
    <message>
        <source>Knock Peer</source>
        <comment>226</comment>
        <translation>Knock Peer</translation>
    </message>
    <message>
        <source>Allow Knock</source>
        <comment>227</comment>
        <translation>Allow Knock</translation>
    </message>
    <message>
        <source>Disallow Knock</source>
        <comment>228</comment>
        <translation>Disallow Knock</translation>
    </message>
    <message>
        <source>About Vorlane Messenger</source>
        <comment>229</comment>
        <translation>About Vorlane Messenger</translation>
    </message>
    <message>
        <source>Send feedback to us</source>
        <comment>230</comment>
        <translation>Send feedback to us</translation>
    </message>
    <message>
        <source>Start Web Conference</source>
        <comment>231</comment>
        <translation>Start Web Conference</translation>
    </message>
    <message>
        <source>Knock from %s %s(%s)</source>
        <comment>1001</comment>
        <translation>Knock from %s %s(%s)</translation>
    </message>
    <message>
        <source>Welcome (%s, %s) %s!</source>
        <comment>1002</comment>
        <translation>Welcome (%s, %s) %s!</translation>
    </message>
    <message>
        <source>The file %s from %s %s(%s) did not arrive completely; the part received is kept as %s.</source>
        <comment>1003</comment>
        <translation>The file %s from %s %s(%s) did not arrive completely; the part received is kept as %s.</translation>
    </message>
    <message>
        <source>Could not open file %s to send it to %s %s(%s).</source>
        <comment>1004</comment>
        <translation>Could not open file %s to send it to %s %s(%s).</translation>
    </message>
    <message>
        <source>Sending file %s to %s %s(%s) stopped before the end.</source>
        <comment>1005</comment>
        <translation>Sending file %s to %s %s(%s) stopped before the end.</translation>
    </message>
    <message>
        <source>Your line to %s %s(%s) could not be sent.</source>
        <comment>1006</comment>
        <translation>Your line to %s %s(%s) could not be sent.</translation>
    </message>
    <message>
        <source>Could not offer file %s to %s %s(%s).</source>
        <comment>1007</comment>
        <translation>Could not offer file %s to %s %s(%s).</translation>
    </message>
    <message>
        <source>File %s was not offered: a file to %s %s(%s) is still being offered or sent; offer it when that one ends.</source>
        <comment>1008</comment>
        <translation>File %s was not offered: a file to %s %s(%s) is still being offered or sent; offer it when that one ends.</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <comment>1009</comment>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>The server refused your offline message: too many messages are waiting for this user.</source>
        <comment>1031</comment>
        <translation>The server refused your offline message: too many messages are waiting for this user.</translation>
    </message>
    <message>
        <source>Your offline message may not have been stored: the server did not confirm it.</source>
        <comment>1032</comment>
        <translation>Your offline message may not have been stored: the server did not confirm it.</translation>
    </message>
    <message>
        <source>Parlo</source>
        <comment>2001</comment>
        <translation>Parlo</translation>
    </message>
    <message>
        <source>Register</source>
        <comment>2003</comment>
        <translation>Register</translation>
    </message>
    <message>
        <source>Status</source>
        <comment>2004</comment>
        <translation>Status</translation>
    </message>
    <message>
        <source>Menu</source>
        <comment>2005</comment>
        <translation>Menu</translation>
    </message>
    <message>
        <source>Forget Passwd?</source>
        <comment>2006</comment>
        <translation>Forget Passwd?</translation>
    </message>
    <message>
        <source>OnLine</source>
        <comment>2007</comment>
        <translation>OnLine</translation>
    </message>
    <message>
        <source>Vorlane Messenger</source>
        <comment>2008</comment>
        <translation>Vorlane Messenger</translation>
    </message>
    <message>
        <source>Vorlane Messenger (%s)</source>
        <comment>2009</comment>
        <translation>Vorlane Messenger (%s)</translation>
    </message>
    <message>
        <source>Message</source>
        <comment>2010</comment>
        <translation>Message</translation>
    </message>
    <message>
        <source>OK</source>
        <comment>2011</comment>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <comment>2012</comment>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>YES</source>
        <comment>2013</comment>
        <translation>YES</translation>
    </message>
    <message>
        <source>No</source>
        <comment>2014</comment>
        <translation>No</translation>
    </message>
    <message>
        <source>Yes</source>
        <comment>2015</comment>
        <translation>Yes</translation>
    </message>
    <message>
        <source>Event</source>
        <comment>2016</comment>
        <translation>Event</translation>
    </message>
    <message>
        <source>About Parlo</source>
        <comment>2017</comment>
        <translation>About Parlo</translation>
    </message>
    <message>
        <source>Vorlane Messenger Version 1.1</source>
        <comment>2018</comment>
        <translation>Vorlane Messenger Version 1.1</translation>
    </message>
    <message>
        <source>Text, voice and video with your contacts, directly or through relays.</source>
        <comment>2019</comment>
        <translation>Text, voice and video with your contacts, directly or through relays.</translation>
    </message>
    <message>
        <source>Email:</source>
        <comment>2020</comment>
        <translation>Email:</translation>
    </message>
    <message>
        <source>Password:</source>
        <comment>2021</comment>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Remember My Email on this machine</source>
        <comment>2022</comment>
        <translation>Remember My Email on this machine</translation>
    </message>
    <message>
        <source>Remember My Password on this machine</source>
        <comment>2023</comment>
        <translation>Remember My Password on this machine</translation>
    </message>
    <message>
        <source>Unknown</source>
        <comment>2025</comment>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>Message from %s</source>
        <comment>2026</comment>
        <translation>Message from %s</translation>
    </message>
    <message>
        <source>No answer for %s seconds: %s may have stopped waiting for it. You can still accept it; if the offer is gone, nothing arrives.</source>
        <comment>2027</comment>
        <translation>No answer for %s seconds: %s may have stopped waiting for it. You can still accept it; if the offer is gone, nothing arrives.</translation>
    </message>
    <message>
        <source>%s went offline: the file offer was withdrawn.</source>
        <comment>2028</comment>
        <translation>%s went offline: the file offer was withdrawn.</translation>
    </message>
    <message>
        <source>Your camera could not be opened: your picture is not sent.</source>
        <comment>2029</comment>
        <translation>Your camera could not be opened: your picture is not sent.</translation>
    </message>
    <message>
        <source>*Email:</source>
        <comment>2101</comment>
        <translation>*Email:</translation>
    </message>
    <message>
        <source>*Password:</source>
        <comment>2102</comment>
        <translation>*Password:</translation>
    </message>
    <message>
        <source>*First Name:</source>
        <comment>2103</comment>
        <translation>*First Name:</translation>
    </message>
    <message>
        <source>*Last Name:</source>
        <comment>2104</comment>
        <translation>*Last Name:</translation>
    </message>
    <message>
        <source>*Nick Name:</source>
        <comment>2105</comment>
        <translation>*Nick Name:</translation>
    </message>
    <message>
        <source>Phone:</source>
        <comment>2106</comment>
        <translation>Phone:</translation>
    </message>
    <message>
        <source>Country:</source>
        <comment>2107</comment>
        <translation>Country:</translation>
    </message>
    <message>
        <source>Reset</source>
        <comment>2108</comment>
        <translation>Reset</translation>
    </message>
    <message>
        <source>Search Contact</source>
        <comment>2109</comment>
        <translation>Search Contact</translation>
    </message>
    <message>
        <source>Please enter your contact's email:</source>
        <comment>2110</comment>
        <translation>Please enter your contact's email:</translation>
    </message>
    <message>
        <source>Search</source>
        <comment>2111</comment>
        <translation>Search</translation>
    </message>
    <message>
        <source>Are you sure to add this person to your contact list?</source>
        <comment>2112</comment>
        <translation>Are you sure to add this person to your contact list?</translation>
    </message>
    <message>
        <source>First Name:</source>
        <comment>2113</comment>
        <translation>First Name:</translation>
    </message>
    <message>
        <source>Last Name:</source>
        <comment>2114</comment>
        <translation>Last Name:</translation>
    </message>
    <message>
        <source>Nick Name:</source>
        <comment>2115</comment>
        <translation>Nick Name:</translation>
    </message>
    <message>
        <source>Add</source>
        <comment>2116</comment>
        <translation>Add</translation>
    </message>
    <message>
        <source>Please enter group name:</source>
        <comment>2117</comment>
        <translation>Please enter group name:</translation>
    </message>
    <message>
        <source>Offline Message To:%s %s(%s)</source>
        <comment>2118</comment>
        <translation>Offline Message To:%s %s(%s)</translation>
    </message>
    <message>
        <source>Send On Return</source>
        <comment>2119</comment>
        <translation>Send On Return</translation>
    </message>
    <message>
        <source>Send</source>
        <comment>2120</comment>
        <translation>Send</translation>
    </message>
    <message>
        <source>Clear</source>
        <comment>2121</comment>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Close</source>
        <comment>2122</comment>
        <translation>Close</translation>
    </message>
    <message>
        <source>Offline Message From %s</source>
        <comment>2123</comment>
        <translation>Offline Message From %s</translation>
    </message>
    <message>
        <source>Discard</source>
        <comment>2124</comment>
        <translation>Discard</translation>
    </message>
    <message>
        <source>Save</source>
        <comment>2125</comment>
        <translation>Save</translation>
    </message>
    <message>
        <source>Text Files (*.txt)</source>
        <comment>2126</comment>
        <translation>Text Files (*.txt)</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <comment>2127</comment>
        <translation>All Files (*)</translation>
    </message>
    <message>
        <source>First Name</source>
        <comment>2128</comment>
        <translation>First Name</translation>
    </message>
    <message>
        <source>Last Name</source>
        <comment>2129</comment>
        <translation>Last Name</translation>
    </message>
    <message>
        <source>Email</source>
        <comment>2130</comment>
        <translation>Email</translation>
    </message>
    <message>
        <source>Nick Name</source>
        <comment>2131</comment>
        <translation>Nick Name</translation>
    </message>
    <message>
        <source>Default Group</source>
        <comment>2132</comment>
        <translation>Default Group</translation>
    </message>
    <message>
        <source>Sending to %s</source>
        <comment>2133</comment>
        <translation>Sending to %s</translation>
    </message>
    <message>
        <source>Receiving from %s</source>
        <comment>2134</comment>
        <translation>Receiving from %s</translation>
    </message>
    <message>
        <source>%s of %s</source>
        <comment>2135</comment>
        <translation>%s of %s</translation>
    </message>
    <message>
        <source>%s/s</source>
        <comment>2136</comment>
        <translation>%s/s</translation>
    </message>
    <message>
        <source>%s left</source>
        <comment>2137</comment>
        <translation>%s left</translation>
    </message>
    <message>
        <source>Sent %s.</source>
        <comment>2138</comment>
        <translation>Sent %s.</translation>
    </message>
    <message>
        <source>Saved %s.</source>
        <comment>2139</comment>
        <translation>Saved %s.</translation>
    </message>
    <message>
        <source>Stopped after %s: %s.</source>
        <comment>2140</comment>
        <translation>Stopped after %s: %s.</translation>
    </message>
    <message>
        <source>the connection closed</source>
        <comment>2141</comment>
        <translation>the connection closed</translation>
    </message>
    <message>
        <source>no data arrived for a minute</source>
        <comment>2142</comment>
        <translation>no data arrived for a minute</translation>
    </message>
    <message>
        <source>the file could not be written</source>
        <comment>2143</comment>
        <translation>the file could not be written</translation>
    </message>
    <message>
        <source>a new file from the same contact replaced it</source>
        <comment>2144</comment>
        <translation>a new file from the same contact replaced it</translation>
    </message>
    <message>
        <source>the transfer was stopped</source>
        <comment>2145</comment>
        <translation>the transfer was stopped</translation>
    </message>
    <message>
        <source>an unknown reason</source>
        <comment>2146</comment>
        <translation>an unknown reason</translation>
    </message>
    <message>
        <source>the file could not be opened</source>
        <comment>2147</comment>
        <translation>the file could not be opened</translation>
    </message>
    <message>
        <source>the connection failed</source>
        <comment>2148</comment>
        <translation>the connection failed</translation>
    </message>
    <message>
        <source>the file could not be read</source>
        <comment>2149</comment>
        <translation>the file could not be read</translation>
    </message>
    <message>
        <source>the receiver refused it</source>
        <comment>2150</comment>
        <translation>the receiver refused it</translation>
    </message>
    <message>
        <source>Chat with: %s</source>
        <comment>2301</comment>
        <translation>Chat with: %s</translation>
    </message>
    <message>
        <source>Send</source>
        <comment>2302</comment>
        <translation>Send</translation>
    </message>
    <message>
        <source>Clear</source>
        <comment>2303</comment>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Close</source>
        <comment>2304</comment>
        <translation>Close</translation>
    </message>
    <message>
        <source>Save</source>
        <comment>2305</comment>
        <translation>Save</translation>
    </message>
    <message>
        <source>Send On Return</source>
        <comment>2306</comment>
        <translation>Send On Return</translation>
    </message>
    <message>
        <source>Hide audio video &lt;&lt;&lt;&lt;&lt;&lt;</source>
        <comment>2307</comment>
        <translation>Hide audio video &lt;&lt;&lt;&lt;&lt;&lt;</translation>
    </message>
    <message>
        <source>Show audio video &gt;&gt;&gt;&gt;&gt;&gt;</source>
        <comment>2308</comment>
        <translation>Show audio video &gt;&gt;&gt;&gt;&gt;&gt;</translation>
    </message>
    <message>
        <source>Choose Save Format</source>
        <comment>2309</comment>
        <translation>Choose Save Format</translation>
    </message>
    <message>
        <source>Save As RTF File</source>
        <comment>2310</comment>
        <translation>Save As RTF File</translation>
    </message>
    <message>
        <source>Save As Text File</source>
        <comment>2311</comment>
        <translation>Save As Text File</translation>
    </message>
    <message>
        <source>Invlidate save type.</source>
        <comment>2312</comment>
        <translation>Invlidate save type.</translation>
    </message>
    <message>
        <source>Rich Text Format Files (*.rtf)</source>
        <comment>2313</comment>
        <translation>Rich Text Format Files (*.rtf)</translation>
    </message>
    <message>
        <source>Text Files (*.txt)</source>
        <comment>2314</comment>
        <translation>Text Files (*.txt)</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <comment>2315</comment>
        <translation>All Files (*)</translation>
    </message>
    <message>
        <source>Peer Video</source>
        <comment>2316</comment>
        <translation>Peer Video</translation>
    </message>
    <message>
        <source>My Video</source>
        <comment>2317</comment>
        <translation>My Video</translation>
    </message>
    <message>
        <source>Audio</source>
        <comment>2318</comment>
        <translation>Audio</translation>
    </message>
    <message>
        <source>Quality:</source>
        <comment>2319</comment>
        <translation>Quality:</translation>
    </message>
    <message>
        <source>Size:</source>
        <comment>2320</comment>
        <translation>Size:</translation>
    </message>
    <message>
        <source>Speed:</source>
        <comment>2321</comment>
        <translation>Speed:</translation>
    </message>
    <message>
        <source>Start my audio</source>
        <comment>2322</comment>
        <translation>Start my audio</translation>
    </message>
    <message>
        <source>Stop my audio</source>
        <comment>2323</comment>
        <translation>Stop my audio</translation>
    </message>
    <message>
        <source>Start peer audio</source>
        <comment>2324</comment>
        <translation>Start peer audio</translation>
    </message>
    <message>
        <source>Stop peer audio</source>
        <comment>2325</comment>
        <translation>Stop peer audio</translation>
    </message>
    <message>
        <source>Start peer video</source>
        <comment>2920</comment>
        <translation>Start peer video</translation>
    </message>
    <message>
        <source>Stop peer video</source>
        <comment>2921</comment>
        <translation>Stop peer video</translation>
    </message>
    <message>
        <source>Start my video</source>
        <comment>2922</comment>
        <translation>Start my video</translation>
    </message>
    <message>
        <source>Stop my video</source>
        <comment>2923</comment>
        <translation>Stop my video</translation>
    </message>
    <message>
        <source>Zoom peer video</source>
        <comment>2924</comment>
        <translation>Zoom peer video</translation>
    </message>
    <message>
        <source>Zoom my video</source>
        <comment>2925</comment>
        <translation>Zoom my video</translation>
    </message>
    <message>
        <source>Maximun videos reached.</source>
        <comment>2960</comment>
        <translation>Maximun videos reached.</translation>
    </message>
    <message>
        <source>failed to create IVolume, please check your microphone device.</source>
        <comment>2961</comment>
        <translation>failed to create IVolume, please check your microphone device.</translation>
    </message>
    <message>
        <source>WAVEIN:%s:%s</source>
        <comment>2962</comment>
        <translation>WAVEIN:%s:%s</translation>
    </message>
    <message>
        <source>WAVEOUT:%s:%s</source>
        <comment>2963</comment>
        <translation>WAVEOUT:%s:%s</translation>
    </message>
    <message>
        <source>create key failed in reg_write!</source>
        <comment>2964</comment>
        <translation>create key failed in reg_write!</translation>
    </message>
    <message>
        <source>set value failed in reg_write.</source>
        <comment>2965</comment>
        <translation>set value failed in reg_write.</translation>
    </message>
    <message>
        <source>create key failed in reg read!</source>
        <comment>2966</comment>
        <translation>create key failed in reg read!</translation>
    </message>
    <message>
        <source>Proxy type error, Please choose your proxy type in proxy options.</source>
        <comment>2967</comment>
        <translation>Proxy type error, Please choose your proxy type in proxy options.</translation>
    </message>
    <message>
        <source>here we are 0.</source>
        <comment>2968</comment>
        <translation>here we are 0.</translation>
    </message>
    <message>
        <source>Receiving data from server failed, may need reconnect.</source>
        <comment>2969</comment>
        <translation>Receiving data from server failed, may need reconnect.</translation>
    </message>
    <message>
        <source>error resolving destination name..</source>
        <comment>2970</comment>
        <translation>error resolving destination name..</translation>
    </message>
    <message>
        <source>failed to write to socks4 proxy.</source>
        <comment>2971</comment>
        <translation>failed to write to socks4 proxy.</translation>
    </message>
    <message>
        <source>failed to read from proxy.</source>
        <comment>2972</comment>
        <translation>failed to read from proxy.</translation>
    </message>
    <message>
        <source>connect to proxy request rejected or failed</source>
        <comment>2973</comment>
        <translation>connect to proxy request rejected or failed</translation>
    </message>
    <message>
        <source>request rejected becasue SOCKS server cannot connect to identd on the client</source>
        <comment>2974</comment>
        <translation>request rejected becasue SOCKS server cannot connect to identd on the client</translation>
    </message>
    <message>
        <source>request rejected because the client program and identd report different user-ids</source>
        <comment>2975</comment>
        <translation>request rejected because the client program and identd report different user-ids</translation>
    </message>
    <message>
        <source>failed to write to socks5 proxy.</source>
        <comment>2976</comment>
        <translation>failed to write to socks5 proxy.</translation>
    </message>
    <message>
        <source>failed to read from socks5 proxy.</source>
        <comment>2977</comment>
        <translation>failed to read from socks5 proxy.</translation>
    </message>
    <message>
        <source>proxy does not support anonymouse or username/password method.</source>
        <comment>2978</comment>
        <translation>proxy does not support anonymouse or username/password method.</translation>
    </message>
    <message>
        <source>The proxy user name and password must each be at most 255 characters.</source>
        <comment>2979</comment>
        <translation>The proxy user name and password must each be at most 255 characters.</translation>
    </message>
    <message>
        <source>failed to write to socks5 proxy user_name/password.</source>
        <comment>2980</comment>
        <translation>failed to write to socks5 proxy user_name/password.</translation>
    </message>
    <message>
        <source>failed to read from proxy socks5 user_name/password result.</source>
        <comment>2981</comment>
        <translation>failed to read from proxy socks5 user_name/password result.</translation>
    </message>
    <message>
        <source>Authentication to socks5 proxy failed.</source>
        <comment>2982</comment>
        <translation>Authentication to socks5 proxy failed.</translation>
    </message>
    <message>
        <source>failed to write to socks5 proxy in sending port and address.</source>
        <comment>2983</comment>
        <translation>failed to write to socks5 proxy in sending port and address.</translation>
    </message>
    <message>
        <source>failed to read from proxy socks5 1.</source>
        <comment>2984</comment>
        <translation>failed to read from proxy socks5 1.</translation>
    </message>
    <message>
        <source>general SOCKS server failure</source>
        <comment>2985</comment>
        <translation>general SOCKS server failure</translation>
    </message>
    <message>
        <source>connection not allowed by ruleset</source>
        <comment>2986</comment>
        <translation>connection not allowed by ruleset</translation>
    </message>
    <message>
        <source>Network unreachable</source>
        <comment>2987</comment>
        <translation>Network unreachable</translation>
    </message>
    <message>
        <source>Host unreachable</source>
        <comment>2988</comment>
        <translation>Host unreachable</translation>
    </message>
    <message>
        <source>Connection refused</source>
        <comment>2989</comment>
        <translation>Connection refused</translation>
    </message>
    <message>
        <source>TTL expired</source>
        <comment>2990</comment>
        <translation>TTL expired</translation>
    </message>
    <message>
        <source>Command not supported</source>
        <comment>2991</comment>
        <translation>Command not supported</translation>
    </message>
    <message>
        <source>Address type not supported</source>
        <comment>2992</comment>
        <translation>Address type not supported</translation>
    </message>
    <message>
        <source>to X'FF' unassigned</source>
        <comment>2993</comment>
        <translation>to X'FF' unassigned</translation>
    </message>
    <message>
        <source>create socket failed!</source>
        <comment>2994</comment>
        <translation>create socket failed!</translation>
    </message>
    <message>
        <source>error resolving hostname...:%s:</source>
        <comment>2995</comment>
        <translation>error resolving hostname...:%s:</translation>
    </message>
    <message>
        <source>accept failed.</source>
        <comment>2996</comment>
        <translation>accept failed.</translation>
    </message>
    <message>
        <source>accept failed.in g_server_thread.</source>
        <comment>2997</comment>
        <translation>accept failed.in g_server_thread.</translation>
    </message>
    <message>
        <source>peer socket server bind failed.</source>
        <comment>2998</comment>
        <translation>peer socket server bind failed.</translation>
    </message>
    <message>
        <source>wait g_mutex_sound failed in g_sound_master_thread.</source>
        <comment>2999</comment>
        <translation>wait g_mutex_sound failed in g_sound_master_thread.</translation>
    </message>
    <message>
        <source>index out of range in reset_one_contact</source>
        <comment>3000</comment>
        <translation>index out of range in reset_one_contact</translation>
    </message>
    <message>
        <source>index out of range in reset_one_contact_group</source>
        <comment>3001</comment>
        <translation>index out of range in reset_one_contact_group</translation>
    </message>
    <message>
        <source>send len&lt;=0 at Clink_socket::my_send!</source>
        <comment>3002</comment>
        <translation>send len&lt;=0 at Clink_socket::my_send!</translation>
    </message>
    <message>
        <source>recv max_len&lt;=0 at Clink_socket::my_recv!</source>
        <comment>3003</comment>
        <translation>recv max_len&lt;=0 at Clink_socket::my_recv!</translation>
    </message>
    <message>
        <source>A sound device stopped working: the call goes on with the system default device, or without sound when there is none.</source>
        <comment>1060</comment>
        <translation>A sound device stopped working: the call goes on with the system default device, or without sound when there is none.</translation>
    </message>
    <message>
        <source>The camera stopped working: your picture is no longer sent, the call goes on.</source>
        <comment>1061</comment>
        <translation>The camera stopped working: your picture is no longer sent, the call goes on.</translation>
    </message>
    <message>
        <source>Audio and video devices...</source>
        <comment>2400</comment>
        <translation>Audio and video devices...</translation>
    </message>
    <message>
        <source>Audio and video devices</source>
        <comment>2401</comment>
        <translation>Audio and video devices</translation>
    </message>
    <message>
        <source>Microphone:</source>
        <comment>2402</comment>
        <translation>Microphone:</translation>
    </message>
    <message>
        <source>Speakers:</source>
        <comment>2403</comment>
        <translation>Speakers:</translation>
    </message>
    <message>
        <source>Camera:</source>
        <comment>2404</comment>
        <translation>Camera:</translation>
    </message>
    <message>
        <source>System default</source>
        <comment>2405</comment>
        <translation>System default</translation>
    </message>
    <message>
        <source>Microphone level:</source>
        <comment>2406</comment>
        <translation>Microphone level:</translation>
    </message>
    <message>
        <source>Play test sound</source>
        <comment>2407</comment>
        <translation>Play test sound</translation>
    </message>
    <message>
        <source>Echo cancellation</source>
        <comment>2408</comment>
        <translation>Echo cancellation</translation>
    </message>
    <message>
        <source>Noise suppression</source>
        <comment>2409</comment>
        <translation>Noise suppression</translation>
    </message>
    <message>
        <source>Automatic gain</source>
        <comment>2410</comment>
        <translation>Automatic gain</translation>
    </message>
    <message>
        <source>No camera found</source>
        <comment>2411</comment>
        <translation>No camera found</translation>
    </message>
</context>
</TS>
